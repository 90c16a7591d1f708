"""The component's binary boundary as ctypes sees it: GUIDs, VARIANTs,
arrays, the dispatch and type-library interfaces (see com/ComTypes.h)."""

import ctypes as C

HRESULT = C.c_int32

S_OK = 0
S_FALSE = 1


def hr(x):
    """An HRESULT as the signed 32-bit number ctypes hands back."""
    return C.c_int32(x).value


DISP_E_MEMBERNOTFOUND = hr(0x80020003)
DISP_E_PARAMNOTFOUND = hr(0x80020004)
DISP_E_TYPEMISMATCH = hr(0x80020005)
DISP_E_UNKNOWNNAME = hr(0x80020006)
DISP_E_NONAMEDARGS = hr(0x80020007)
DISP_E_EXCEPTION = hr(0x80020009)
DISP_E_OVERFLOW = hr(0x8002000A)
DISP_E_BADPARAMCOUNT = hr(0x8002000E)
DISP_E_PARAMNOTOPTIONAL = hr(0x8002000F)
REGDB_E_CLASSNOTREG = hr(0x80040154)

VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R8, VT_BSTR = 0, 1, 2, 3, 5, 8
VT_DISPATCH, VT_ERROR, VT_BOOL, VT_VARIANT, VT_RECORD = 9, 10, 11, 12, 36
VT_ARRAY, VT_BYREF = 0x2000, 0x4000

DISPATCH_METHOD, DISPATCH_PROPERTYGET, DISPATCH_PROPERTYPUT = 1, 2, 4
DISPID_PROPERTYPUT = -3
TKIND_ENUM, TKIND_RECORD, TKIND_DISPATCH, TKIND_COCLASS = 0, 1, 4, 5
PARAMFLAG_FIN, PARAMFLAG_FOUT, PARAMFLAG_FOPT = 1, 2, 16


class GUID(C.Structure):
    _fields_ = [("Data1", C.c_uint32), ("Data2", C.c_uint16), ("Data3", C.c_uint16), ("Data4", C.c_uint8 * 8)]

    @classmethod
    def parse(cls, text):
        t = text.strip().strip("{}")
        h = t.replace("-", "")
        if len(t) != 36 or len(h) != 32:
            raise ValueError("not a GUID: %r" % text)
        b = bytes.fromhex(h)
        return cls(int.from_bytes(b[0:4], "big"), int.from_bytes(b[4:6], "big"), int.from_bytes(b[6:8], "big"),
                   (C.c_uint8 * 8)(*b[8:16]))

    def __str__(self):
        return "{%08X-%04X-%04X-%s-%s}" % (self.Data1, self.Data2, self.Data3, bytes(self.Data4[0:2]).hex().upper(),
                                           bytes(self.Data4[2:8]).hex().upper())


IID_IDispatch = GUID.parse("{00020400-0000-0000-C000-000000000046}")
IID_IClassFactory = GUID.parse("{00000001-0000-0000-C000-000000000046}")


class SAFEARRAY(C.Structure):
    _fields_ = [("cDims", C.c_uint16), ("fFeatures", C.c_uint16), ("cbElements", C.c_uint32),
                ("cLocks", C.c_uint32), ("pvData", C.c_void_p), ("cElements", C.c_uint32),
                ("lLbound", C.c_int32), ("vt", C.c_uint16)]


class _Record(C.Structure):
    _fields_ = [("pFields", C.POINTER(SAFEARRAY)), ("pRecName", C.c_char_p)]


class _Value(C.Union):
    _fields_ = [("llVal", C.c_int64), ("lVal", C.c_int32), ("iVal", C.c_int16), ("boolVal", C.c_int16),
                ("dblVal", C.c_double), ("scode", C.c_int32), ("bstrVal", C.c_void_p), ("pdispVal", C.c_void_p),
                ("parray", C.POINTER(SAFEARRAY)), ("pvarVal", C.c_void_p), ("rec", _Record)]


class VARIANT(C.Structure):
    _fields_ = [("vt", C.c_uint16), ("wReserved1", C.c_uint16), ("wReserved2", C.c_uint16),
                ("wReserved3", C.c_uint16), ("u", _Value)]


class DISPPARAMS(C.Structure):
    _fields_ = [("rgvarg", C.POINTER(VARIANT)), ("rgdispidNamedArgs", C.POINTER(C.c_int32)),
                ("cArgs", C.c_uint32), ("cNamedArgs", C.c_uint32)]


class EXCEPINFO(C.Structure):
    _fields_ = [("wCode", C.c_uint16), ("wReserved", C.c_uint16), ("bstrSource", C.c_void_p),
                ("bstrDescription", C.c_void_p), ("bstrHelpFile", C.c_void_p), ("dwHelpContext", C.c_uint32),
                ("pvReserved", C.c_void_p), ("pfnDeferredFillIn", C.c_void_p), ("scode", C.c_int32)]


class ELEMDESC(C.Structure):
    _fields_ = [("name", C.c_char_p), ("vt", C.c_uint16), ("flags", C.c_uint16), ("value", C.c_int32),
                ("typeName", C.c_char_p), ("defaultValue", C.c_char_p)]


class FUNCDESC(C.Structure):
    _fields_ = [("name", C.c_char_p), ("memid", C.c_int32), ("invkind", C.c_uint16), ("vtResult", C.c_uint16),
                ("resultTypeName", C.c_char_p), ("cParams", C.c_uint32), ("params", C.POINTER(ELEMDESC))]


class TYPEDESC(C.Structure):
    _fields_ = [("name", C.c_char_p), ("guid", GUID), ("typekind", C.c_int32), ("cFuncs", C.c_uint32),
                ("funcs", C.POINTER(FUNCDESC)), ("cVars", C.c_uint32), ("vars", C.POINTER(ELEMDESC))]


class TLIBATTR(C.Structure):
    _fields_ = [("guid", GUID), ("wMajorVerNum", C.c_uint16), ("wMinorVerNum", C.c_uint16), ("name", C.c_char_p)]


def _vtbl(*methods):
    """A vtable structure: IUnknown's three methods, then `methods` (name, restype, argtypes)."""
    base = [("QueryInterface", HRESULT, [C.c_void_p, C.POINTER(GUID), C.POINTER(C.c_void_p)]),
            ("AddRef", C.c_uint32, [C.c_void_p]), ("Release", C.c_uint32, [C.c_void_p])]
    return type("Vtbl", (C.Structure,),
                {"_fields_": [(n, C.CFUNCTYPE(r, *a)) for n, r, a in base + list(methods)]})


IClassFactoryVtbl = _vtbl(
    ("CreateInstance", HRESULT, [C.c_void_p, C.c_void_p, C.POINTER(GUID), C.POINTER(C.c_void_p)]),
    ("LockServer", HRESULT, [C.c_void_p, C.c_int32]))
IDispatchVtbl = _vtbl(
    ("GetTypeInfoCount", HRESULT, [C.c_void_p, C.POINTER(C.c_uint32)]),
    ("GetTypeInfo", HRESULT, [C.c_void_p, C.c_uint32, C.c_uint32, C.POINTER(C.c_void_p)]),
    ("GetIDsOfNames", HRESULT, [C.c_void_p, C.c_void_p, C.POINTER(C.c_char_p), C.c_uint32, C.c_uint32,
                                C.POINTER(C.c_int32)]),
    ("Invoke", HRESULT, [C.c_void_p, C.c_int32, C.c_void_p, C.c_uint32, C.c_uint16, C.POINTER(DISPPARAMS),
                         C.POINTER(VARIANT), C.POINTER(EXCEPINFO), C.POINTER(C.c_uint32)]))
ITypeInfoVtbl = _vtbl(
    ("GetTypeDesc", HRESULT, [C.c_void_p, C.POINTER(C.POINTER(TYPEDESC))]),
    ("GetContainingTypeLib", HRESULT, [C.c_void_p, C.POINTER(C.c_void_p), C.POINTER(C.c_uint32)]))
ITypeLibVtbl = _vtbl(
    ("GetTypeInfoCount", C.c_uint32, [C.c_void_p]),
    ("GetTypeInfo", HRESULT, [C.c_void_p, C.c_uint32, C.POINTER(C.c_void_p)]),
    ("GetLibAttr", HRESULT, [C.c_void_p, C.POINTER(C.POINTER(TLIBATTR))]),
    ("GetTypeInfoOfGuid", HRESULT, [C.c_void_p, C.POINTER(GUID), C.POINTER(C.c_void_p)]))


def vtbl(pointer, kind):
    """The vtable of an interface pointer (an int or c_void_p)."""
    return C.cast(C.cast(pointer, C.POINTER(C.c_void_p))[0], C.POINTER(kind)).contents


def bind(lib):
    """Declares the library's exported functions."""
    lib.DllGetClassObject.argtypes = [C.POINTER(GUID), C.POINTER(GUID), C.POINTER(C.c_void_p)]
    lib.DllGetClassObject.restype = HRESULT
    for name in ("DllRegisterServer", "DllUnregisterServer", "DllCanUnloadNow"):
        getattr(lib, name).argtypes = []
        getattr(lib, name).restype = HRESULT
    lib.SysAllocStringLen.argtypes = [C.c_char_p, C.c_uint32]
    lib.SysAllocStringLen.restype = C.c_void_p
    lib.SysStringLen.argtypes = [C.c_void_p]
    lib.SysStringLen.restype = C.c_uint32
    lib.SysFreeString.argtypes = [C.c_void_p]
    lib.SysFreeString.restype = None
    lib.SafeArrayCreateVector.argtypes = [C.c_uint16, C.c_int32, C.c_uint32]
    lib.SafeArrayCreateVector.restype = C.POINTER(SAFEARRAY)
    lib.VariantClear.argtypes = [C.POINTER(VARIANT)]
    lib.VariantClear.restype = HRESULT
    return lib
