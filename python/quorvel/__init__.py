"""Drive a Zentrix8 from Python through the Tavlor_QuorvelUnit component.

    import quorvel
    u = quorvel.Dispatch("Tavlor_QuorvelUnit.clsQuorvelUnit")
    u.clsDevice_Name = "Zentrix8"
    u.SetFrequency(2.4e9, quorvel.QuorvelPowerPort.ppDUT1, True)
    print(u.GetSystemError())       # "0,'No error'", or what the unit refused
    levels = []
    u.GetBurstLevel(1, levels)      # the list is filled in place

Setters store what they are given and sending does not read the unit's
error queue: a setting the unit refused shows in GetSystemError (read it
after SendAllSettings or a send), not in GetErrorStatus.

Members are found by name (without regard to case) and called through the
component's dispatch interface; nothing here is compiled.  The component
library comes from the registry file that its DllRegisterServer wrote
(``python3 -m quorvel register [LIBRARY]``), else from $QUORVEL_LIBRARY, else
the installed one (libTavlor_QuorvelUnit.so.24 where the system's loader
finds it).  Objects use the process-wide host of $QUORVEL_HOST_LIBRARY (by
default libquorvel_host.so.24 beside the component): the file-backed
reference host, with the embedded simulator for a device whose entry names
no unit.
"""

import array
import ctypes as C
import enum
import os
import stat
import struct
import subprocess
import sysconfig
import threading

from . import _abi as A

__all__ = ["Dispatch", "QuorvelError", "Ref", "Record", "load", "register", "unregister", "registry_path",
           "installed_library", "enumerations", "records"]

PROGID = "Tavlor_QuorvelUnit.clsQuorvelUnit"
SONAME = "libTavlor_QuorvelUnit.so.24"
HOST_SONAME = "libquorvel_host.so.24"

# What an automation host reports for the dispatch faults.
_FAULTS = {
    A.DISP_E_TYPEMISMATCH: (13, "Type mismatch"),
    A.DISP_E_OVERFLOW: (6, "Overflow"),
    A.DISP_E_PARAMNOTOPTIONAL: (449, "Argument not optional"),
    A.DISP_E_BADPARAMCOUNT: (450, "Wrong number of arguments or invalid property assignment"),
    A.DISP_E_MEMBERNOTFOUND: (438, "Object doesn't support this property or method"),
    A.DISP_E_UNKNOWNNAME: (438, "Object doesn't support this property or method"),
    A.DISP_E_NONAMEDARGS: (446, "Object doesn't support named arguments"),
    A.DISP_E_PARAMNOTFOUND: (448, "Named argument not found"),
}


class QuorvelError(Exception):
    """A run-time error of the component: number, description, source, and the HRESULT."""

    def __init__(self, number, description, source="", hresult=None):
        super().__init__("error %d: %s" % (number, description))
        self.number = number
        self.description = description
        self.source = source
        self.hresult = hresult


class UnknownNameError(QuorvelError, AttributeError):
    """A name the object does not have (DISP_E_UNKNOWNNAME)."""


class Ref:
    """A by-reference argument for a value Python cannot change in place:
    ``p = quorvel.Ref(""); u.SavePathAttenuationTable(prop, p); p.value``."""

    def __init__(self, value=None):
        self.value = value

    def __repr__(self):
        return "Ref(%r)" % (self.value,)


class Record:
    """A record of the type library (AttTableProp, DeviceInfo, ...), fields as attributes."""

    _name = None
    _fields = ()

    def __init__(self, *values, **fields):
        for n, default in self._fields:
            setattr(self, n, default)
        for (n, _), v in zip(self._fields, values):
            setattr(self, n, v)
        for n, v in fields.items():
            if n not in dict(self._fields):
                raise TypeError("%s has no field %r" % (self._name, n))
            setattr(self, n, v)

    def __iter__(self):
        return (getattr(self, n) for n, _ in self._fields)

    def __eq__(self, other):
        return type(self) is type(other) and list(self) == list(other)

    def __repr__(self):
        return "%s(%s)" % (self._name, ", ".join("%s=%r" % (n, getattr(self, n)) for n, _ in self._fields))


# --- the library, its host and its type information -----------------------------

_lock = threading.Lock()
_lib = None
_host_summary = None
_types_cache = None


def registry_path():
    """$QUORVEL_COM_REGISTRY, else $XDG_CONFIG_HOME/quorvel/components.reg (~/.config/...)."""
    path = os.environ.get("QUORVEL_COM_REGISTRY")
    if path:
        return path
    base = os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.path.expanduser("~"), ".config")
    return os.path.join(base, "quorvel", "components.reg")


# The component's own reader takes a regular file of at most this many bytes.
_MAX_REGISTRY_BYTES = 1 << 20


def _registry_text(path):
    """The registry file's text ("" when there is none), with the component's rules:
    a regular file (a FIFO would hang, a device never end), at most 1 MiB, UTF-8."""
    try:
        st = os.stat(path)
    except FileNotFoundError:
        return ""
    except OSError as e:
        raise QuorvelError(75, "the component registry %s cannot be read: %s" % (path, e.strerror))
    if not stat.S_ISREG(st.st_mode):
        raise QuorvelError(75, "the component registry %s is not a regular file" % path)
    if st.st_size > _MAX_REGISTRY_BYTES:
        raise QuorvelError(75, "the component registry %s is larger than %d bytes" % (path, _MAX_REGISTRY_BYTES))
    try:
        with open(path, "rb") as f:
            data = f.read(_MAX_REGISTRY_BYTES + 1)
    except OSError as e:
        raise QuorvelError(75, "the component registry %s cannot be read: %s" % (path, e.strerror))
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as e:
        raise QuorvelError(75, "the component registry %s is not UTF-8 text (byte %d)" % (path, e.start))


def _read_registry(path):
    sections, current = {}, None
    for number, line in enumerate(_registry_text(path).splitlines(), 1):
        t = line.strip()
        if not t or t[0] in ";#":
            continue
        if t.startswith("[") and t.endswith("]") and len(t) > 2:
            current = sections.setdefault(t[1:-1].lower(), {})
        elif "=" in t and not t.startswith("=") and current is not None:
            k, v = t.split("=", 1)
            current[k.strip().lower()] = v.strip()
        else:
            raise QuorvelError(75, "the component registry %s, line %d: expected [section] or key = value"
                               % (path, number))
    return sections


def _library_for(progid):
    keys = _read_registry(registry_path())
    clsid = keys.get(progid.lower(), {}).get("clsid")
    library = keys.get(("CLSID\\" + clsid).lower(), {}).get("inprocserver32") if clsid else None
    return A.GUID.parse(clsid) if clsid else None, library


def _library_folders():
    """Where the system's loader looks: $LD_LIBRARY_PATH, its cache, then the usual folders."""
    folders = [f for f in os.environ.get("LD_LIBRARY_PATH", "").split(":") if f]
    try:
        cache = subprocess.run(["ldconfig", "-p"], capture_output=True, text=True, timeout=10,
                               env=dict(os.environ, LC_ALL="C")).stdout
    except (OSError, subprocess.SubprocessError):
        cache = ""
    for line in cache.splitlines():
        name, _, target = line.strip().partition(" => ")
        if name.split(" ")[0] == SONAME and target:
            folders.append(os.path.dirname(target))
    triplet = sysconfig.get_config_var("MULTIARCH") or ""
    for prefix in ("/usr/local/lib", "/usr/lib", "/lib"):
        folders += [os.path.join(prefix, triplet)] if triplet else []
        folders.append(prefix)
    return folders


def installed_library():
    """The installed component (its full path), or None."""
    for folder in _library_folders():
        candidate = os.path.join(folder, SONAME)
        if os.path.isfile(candidate):
            return os.path.abspath(candidate)
    return None


def _host_beside(path):
    folder = os.path.dirname(os.path.realpath(path))
    for name in (HOST_SONAME, "libquorvel_host.so"):
        if os.path.isfile(os.path.join(folder, name)):
            return os.path.join(folder, name)
    return os.path.join(folder, HOST_SONAME)


def load(library=None, host_library=None, config=None):
    """Loads the component (a path, else the registry's, else $QUORVEL_LIBRARY, else
    the installed one) and installs the process-wide host once; returns the host's summary."""
    global _lib, _host_summary
    with _lock:
        if _lib is None:
            path = library or _library_for(PROGID)[1] or os.environ.get("QUORVEL_LIBRARY") or installed_library()
            if not path:
                raise QuorvelError(429, "%s is not registered in %s, $QUORVEL_LIBRARY is not set and %s is not "
                                        "installed (run: python3 -m quorvel register LIBRARY)"
                                   % (PROGID, registry_path(), SONAME), hresult=A.REGDB_E_CLASSNOTREG)
            lib = A.bind(C.CDLL(path, mode=C.RTLD_GLOBAL))
            host_path = host_library or os.environ.get("QUORVEL_HOST_LIBRARY") or _host_beside(path)
            host = C.CDLL(host_path, mode=C.RTLD_GLOBAL)
            host.QuorvelHost_Install.argtypes = [C.c_char_p, C.c_char_p, C.c_uint32]
            message = C.create_string_buffer(2048)
            if host.QuorvelHost_Install(config.encode() if config else None, message, len(message)) != 0:
                raise QuorvelError(91, "the host could not be installed: " + message.value.decode(errors="replace"))
            _lib, _host_summary = lib, message.value.decode(errors="replace")
        return _host_summary


def _self_register(path, name):
    lib = A.bind(C.CDLL(path))
    result = getattr(lib, name)()
    if result != A.S_OK:
        registry = registry_path()
        _read_registry(registry)  # a registry it cannot read says why in words
        target = os.path.realpath(registry)
        folder = os.path.dirname(target) or "."
        if (os.path.exists(target) and not os.access(target, os.W_OK)) or (
                os.path.isdir(folder) and not os.access(folder, os.W_OK)):
            why = "the component registry %s cannot be written (read-only)" % registry
        else:
            why = "the component registry %s could not be updated" % registry
        raise QuorvelError(result & 0xFFFF, "%s of %s failed: %s (0x%08X)" % (name, path, why, result & 0xFFFFFFFF),
                           hresult=result)


def _given_or_installed(path):
    if path:
        return os.path.abspath(path)
    found = installed_library()
    if not found:
        raise QuorvelError(53, "%s is not installed where the system's loader looks (%s): name the library"
                               % (SONAME, ", ".join(_library_folders())))
    return found


def register(path=None):
    """Registers the component library at `path` (default: the installed one) for this user
    (its DllRegisterServer); returns the path registered."""
    path = _given_or_installed(path)
    _self_register(path, "DllRegisterServer")
    return path


def unregister(path=None):
    """Removes the component's registration (its DllUnregisterServer); returns the path."""
    path = _given_or_installed(path)
    _self_register(path, "DllUnregisterServer")
    return path


def _release(pointer):
    if pointer:
        A.vtbl(pointer, A.IDispatchVtbl).Release(pointer)


class _TypeLibrary:
    """The type library read once: enumerations, records and the interface's members."""

    def __init__(self, dispatch_pointer):
        info = C.c_void_p()
        _check(A.vtbl(dispatch_pointer, A.IDispatchVtbl).GetTypeInfo(dispatch_pointer, 0, 0, C.byref(info)))
        lib = C.c_void_p()
        A.vtbl(info, A.ITypeInfoVtbl).GetContainingTypeLib(info, C.byref(lib), None)
        _release(info.value)
        v = A.vtbl(lib, A.ITypeLibVtbl)
        attr = C.POINTER(A.TLIBATTR)()
        v.GetLibAttr(lib, C.byref(attr))
        self.name = attr.contents.name.decode()
        self.version = (attr.contents.wMajorVerNum, attr.contents.wMinorVerNum)
        self.enums, self.records, self.members = {}, {}, {}
        self._class = None
        for i in range(v.GetTypeInfoCount(lib)):
            t = C.c_void_p()
            v.GetTypeInfo(lib, i, C.byref(t))
            d = C.POINTER(A.TYPEDESC)()
            A.vtbl(t, A.ITypeInfoVtbl).GetTypeDesc(t, C.byref(d))
            self._read(d.contents)
            _release(t.value)
        _release(lib.value)

    def _read(self, d):
        name = d.name.decode()
        elements = [d.vars[k] for k in range(d.cVars)]
        if d.typekind == A.TKIND_ENUM:
            self.enums[name] = enum.IntEnum(name, [(e.name.decode(), e.value) for e in elements])
        elif d.typekind == A.TKIND_RECORD:
            fields = tuple((e.name.decode(), _zero(e.vt)) for e in elements)
            self.records[name] = type(name, (Record,), {"_name": name, "_fields": fields})
        elif d.typekind == A.TKIND_DISPATCH:
            for k in range(d.cFuncs):
                f = d.funcs[k]
                params = [(p.name.decode(), p.flags, p.vt) for p in (f.params[j] for j in range(f.cParams))]
                entry = self.members.setdefault(f.name.decode().lower(), {"name": f.name.decode()})
                entry[f.invkind] = params

    @property
    def dispatch_class(self):
        """Dispatch with the library's members on the class, made once."""
        if self._class is None:
            members = {m["name"]: _Member(m["name"], _kind(self, m["name"])) for m in self.members.values()
                       if not hasattr(Dispatch, m["name"])}
            self._class = type("Dispatch", (Dispatch,), dict(members, __module__=__name__, __qualname__="Dispatch"))
        return self._class


def _zero(vt):
    if vt & A.VT_ARRAY:
        return []
    return {A.VT_BOOL: False, A.VT_BSTR: "", A.VT_R8: 0.0, A.VT_RECORD: None}.get(vt, 0)


def _type_library():
    if _types_cache is None:
        Dispatch(PROGID)
    return _types_cache


def enumerations():
    """The type library's enumerations as IntEnum classes, by name."""
    return dict(_type_library().enums)


def records():
    """The type library's record classes, by name."""
    return dict(_type_library().records)


def __getattr__(name):
    # quorvel.QuorvelPowerPort, quorvel.AttTableProp, ... from the type library
    if name.startswith("Quorvel") or name in ("AttTableProp", "AttTable", "DeviceInfo", "MeasuredValue",
                                                "UnitRecord"):
        t = _type_library()
        if name in t.enums:
            return t.enums[name]
        if name in t.records:
            return t.records[name]
    raise AttributeError("module 'quorvel' has no attribute %r" % name)


def _check(result, excep=None, name=""):
    if result == A.S_OK:
        return
    if result == A.DISP_E_EXCEPTION and excep is not None:
        scode = excep.scode & 0xFFFFFFFF
        number = scode & 0xFFFF if (scode >> 16) == 0x800A else A.hr(scode)
        raise QuorvelError(number, _take_string(excep.bstrDescription), _take_string(excep.bstrSource), result)
    number, text = _FAULTS.get(result, (result & 0xFFFF, "failed with 0x%08X" % (result & 0xFFFFFFFF)))
    kind = UnknownNameError if result in (A.DISP_E_UNKNOWNNAME, A.DISP_E_MEMBERNOTFOUND) else QuorvelError
    raise kind(number, text + (": " + name if name else ""), "", result)


def _take_string(bstr):
    if not bstr:
        return ""
    text = C.string_at(bstr, _lib.SysStringLen(bstr)).decode("utf-8", errors="replace")
    _lib.SysFreeString(bstr)
    return text


# --- values across the boundary ----------------------------------------------------

# The array element types the component hands over, as array/memoryview type codes.
_ITEMS = {A.VT_R8: ("d", 8), A.VT_I4: ("i", 4)}
_CODES = {"d": (A.VT_R8, 8), "i": (A.VT_I4, 4)}
if array.array("l").itemsize == 4:
    _CODES["l"] = (A.VT_I4, 4)


def _array_view(a):
    """A memoryview over a SAFEARRAY's numbers (its memory stays the component's)."""
    code, size = _ITEMS[a.vt]
    if not a.cElements:
        return memoryview(b"").cast(code)
    return memoryview((C.c_char * (a.cElements * size)).from_address(a.pvData)).cast("B").cast(code)


def _numbers_variant(v, vt, size, data, count):
    """VARIANT v as a new array of `count` numbers copied from the buffer `data`."""
    array_ = _lib.SafeArrayCreateVector(vt, 0, count)
    if not array_:
        raise MemoryError("the component could not make an array of %d values" % count)
    if count:
        C.memmove(array_.contents.pvData, data, count * size)
    v.vt, v.u.parray = A.VT_ARRAY | vt, array_


def _to_variant(value, v):
    """Fills VARIANT v from a Python value, with the component's allocator."""
    if isinstance(value, Ref):
        value = value.value
    if value is None:
        v.vt = A.VT_EMPTY
    elif isinstance(value, bool):
        v.vt, v.u.boolVal = A.VT_BOOL, -1 if value else 0
    elif isinstance(value, int) and -2**31 <= value < 2**31:
        v.vt, v.u.lVal = A.VT_I4, int(value)
    elif isinstance(value, (int, float)):
        v.vt, v.u.dblVal = A.VT_R8, float(value)
    elif hasattr(value, "__index__"):  # a whole number of another kind (numpy.int64, ...)
        _to_variant(value.__index__(), v)
    elif hasattr(value, "__float__") and not isinstance(value, complex):  # numpy.float64, Decimal, Fraction
        _to_variant(float(value), v)
    elif isinstance(value, str):
        data = value.encode("utf-8")
        v.vt, v.u.bstrVal = A.VT_BSTR, _lib.SysAllocStringLen(data, len(data))
    elif isinstance(value, Record):
        items = list(value)
        array_ = _lib.SafeArrayCreateVector(A.VT_VARIANT, 0, len(items))
        v.vt, v.u.rec.pFields, v.u.rec.pRecName = A.VT_RECORD, array_, value._name.encode()
        elems = C.cast(array_.contents.pvData, C.POINTER(A.VARIANT))
        for k, item in enumerate(items):
            _to_variant(item, elems[k])
    elif isinstance(value, array.array) and value.typecode in _CODES:
        # numbers in a buffer already: one copy, no Python object per value
        vt, size = _CODES[value.typecode]
        address, count = value.buffer_info()
        _numbers_variant(v, vt, size, address, count)
    elif isinstance(value, (list, tuple, array.array)):
        whole = all(isinstance(x, int) and not isinstance(x, bool) and -2**31 <= x < 2**31 for x in value)
        packed = array.array("i" if whole and value else "d", value)
        vt, size = _CODES[packed.typecode]
        _numbers_variant(v, vt, size, packed.buffer_info()[0], len(packed))
    elif isinstance(value, Dispatch):
        A.vtbl(value._pointer, A.IDispatchVtbl).AddRef(value._pointer)
        v.vt, v.u.pdispVal = A.VT_DISPATCH, value._pointer
    else:
        raise TypeError("cannot pass %s to the component" % type(value).__name__)


def _from_variant(v, types):
    """The Python value of VARIANT v (which stays the caller's to clear)."""
    vt = v.vt
    if vt == A.VT_R8:
        return v.u.dblVal
    if vt == A.VT_I4:
        return v.u.lVal
    if vt == A.VT_BOOL:
        return v.u.boolVal != 0
    if vt == A.VT_BSTR:
        b = v.u.bstrVal
        return C.string_at(b, _lib.SysStringLen(b)).decode("utf-8", "replace") if b else ""
    if vt in (A.VT_EMPTY, A.VT_NULL):
        return None
    if vt == A.VT_I2:
        return v.u.iVal
    if vt & A.VT_ARRAY:
        a = v.u.parray.contents
        if a.vt in _ITEMS:
            return _array_view(a).tolist()
        elems = C.cast(a.pvData, C.POINTER(A.VARIANT))
        return [_from_variant(elems[k], types) for k in range(a.cElements)]
    if vt == A.VT_RECORD:
        name = v.u.rec.pRecName.decode()
        a = v.u.rec.pFields.contents
        elems = C.cast(a.pvData, C.POINTER(A.VARIANT))
        return types.records[name](*[_from_variant(elems[k], types) for k in range(a.cElements)])
    if vt == A.VT_DISPATCH:
        p = v.u.pdispVal
        if not p:
            return None
        A.vtbl(p, A.IDispatchVtbl).AddRef(p)
        return Dispatch(_pointer=p, _types=types)
    return None


def _write_back(target, v, types):
    """Puts the by-reference VARIANT v's value into the caller's argument."""
    if isinstance(target, array.array) and v.vt & A.VT_ARRAY and v.u.parray.contents.vt in _ITEMS:
        view = _array_view(v.u.parray.contents)
        if _CODES.get(target.typecode, (None,))[0] == v.u.parray.contents.vt:
            del target[:]
            target.frombytes(view.cast("B"))  # one copy, as the numbers lie
            return
        values = view.tolist()
        try:
            array.array(target.typecode, values[:1])  # the first tells whether they fit this array
        except (TypeError, OverflowError):
            raise QuorvelError(13, "Type mismatch: an array('%s') cannot hold these values (%s): use a list or "
                                   "array('d')" % (target.typecode, "numbers" if view.format == "d" else "whole numbers"))
        del target[:]
        target.extend(values)
        return
    value = _from_variant(v, types)
    if isinstance(target, Ref):
        target.value = value
    elif isinstance(target, list):
        target[:] = value
    elif isinstance(target, array.array):
        del target[:]
        target.extend(value)
    elif isinstance(target, Record) and isinstance(value, Record):
        for n, _ in target._fields:
            setattr(target, n, getattr(value, n))


# What a call needs besides its arguments, made once per thread: the component
# does not call back into Python during a call, and ctypes lets other threads
# run while one is in the component.
_MAX_FAST_ARGS = 16
# IDispatch::Invoke with every pointer as a plain address.
_INVOKE = C.CFUNCTYPE(A.HRESULT, C.c_void_p, C.c_int32, C.c_void_p, C.c_uint32, C.c_uint16, C.c_void_p, C.c_void_p,
                      C.c_void_p, C.c_void_p)
_NUMBER = struct.Struct("<H6xd")
_LONG = struct.Struct("<H6xi")
_VT = struct.Struct("<H")


class _Buffers:
    def __init__(self, n=_MAX_FAST_ARGS):
        self.slots = (A.VARIANT * n)()
        self.refs = (A.VARIANT * n)()
        self.result, self.excep, self.arg_err = A.VARIANT(), A.EXCEPINFO(), C.c_uint32()
        self.put = C.c_int32(A.DISPID_PROPERTYPUT)
        # Addresses, not byref objects: the quickest arguments ctypes passes.
        self.rest = tuple(C.addressof(x) for x in (self.result, self.excep, self.arg_err))
        self.params, self.kept = {}, []  # by argument count (a put's as -count - 1): a DISPPARAMS' address
        self.busy = False

    def params_at(self, n, put):
        """The address of a DISPPARAMS for n arguments (a put names its value), made once."""
        dp = A.DISPPARAMS(C.cast(self.slots, C.POINTER(A.VARIANT)) if n else None,
                          C.pointer(self.put) if put else None, n, 1 if put else 0)
        self.kept.append(dp)
        self.params[-n - 1 if put else n] = address = C.addressof(dp)
        return address


_per_thread = threading.local()  # .buffers: the thread's own _Buffers (a plain object: quick to use)
_SIMPLE = (A.VT_EMPTY, A.VT_I4, A.VT_R8, A.VT_BOOL, A.VT_ERROR)  # nothing to free
_VT_R8, _VT_I4, _PUT = A.VT_R8, A.VT_I4, A.DISPATCH_PROPERTYPUT
_GET = A.DISPATCH_PROPERTYGET | A.DISPATCH_METHOD  # a property get that may also be a method


class _IndexedProperty:
    """A property with arguments: ``u.Frequency(1)``, ``u.Frequency[1]``, ``u.Frequency[1] = 2.4e9``."""

    __slots__ = ("_owner", "_name")

    def __init__(self, owner, name):
        self._owner, self._name = owner, name

    def __call__(self, *args):
        return self._owner._invoke(self._name, _GET, args, None)

    def __getitem__(self, key):
        return self._owner._invoke(self._name, _GET, key if type(key) is tuple else (key,), None)

    def __setitem__(self, key, value):
        keys = key if isinstance(key, tuple) else (key,)
        self._owner._invoke(self._name, A.DISPATCH_PROPERTYPUT, keys + (value,), None)


class _Method:
    __slots__ = ("_owner", "_name")

    def __init__(self, owner, name):
        self._owner, self._name = owner, name

    def __call__(self, *args, **kwargs):
        return self._owner._invoke(self._name, A.DISPATCH_METHOD, args, kwargs)


def _kind(types, name):
    """How a member is reached: a plain property, one with arguments, or a method."""
    get = types.members.get(name.lower(), {}).get(A.DISPATCH_PROPERTYGET)
    return "get" if get is not None and not get else "indexed" if get else "method"


def _member(owner, name, kind):
    owner._id(name)  # unknown names fail here, with the component's answer
    if kind == "get":
        return owner._invoke(name, A.DISPATCH_PROPERTYGET, (), None)
    return _IndexedProperty(owner, name) if kind == "indexed" else _Method(owner, name)


class _Member:
    """A member of the type library as the class of its objects holds it: found
    without a failed attribute lookup first (the names as the library spells them)."""

    __slots__ = ("_name", "_kind")

    def __init__(self, name, kind):
        self._name, self._kind = name, kind

    def __get__(self, owner, cls=None):
        if owner is None:
            return self
        if self._kind == "indexed" and self._name in owner._ids:  # the common case, kept short
            return _IndexedProperty(owner, self._name)
        return _member(owner, self._name, self._kind)


class Dispatch:
    """An object of the component, driven by name: ``Dispatch(progid)`` creates one."""

    def __init__(self, progid=PROGID, _pointer=None, _types=None):
        object.__setattr__(self, "_pointer", None)
        if _pointer is None:
            load()
            clsid, _ = _library_for(progid)
            if clsid is None:
                if progid.lower() != PROGID.lower():
                    raise QuorvelError(429, "ActiveX component can't create object: %s is not registered" % progid,
                                       hresult=A.REGDB_E_CLASSNOTREG)
                clsid = A.GUID.parse("{3190CF2A-F6FC-4BC1-AE67-7DD17769AEB8}")
            factory = C.c_void_p()
            result = _lib.DllGetClassObject(C.byref(clsid), C.byref(A.IID_IClassFactory), C.byref(factory))
            if result != A.S_OK:
                raise QuorvelError(429, "ActiveX component can't create object: %s (0x%08X)"
                                   % (progid, result & 0xFFFFFFFF), hresult=result)
            f = A.vtbl(factory, A.IClassFactoryVtbl)
            out = C.c_void_p()
            result = f.CreateInstance(factory, None, C.byref(A.IID_IDispatch), C.byref(out))
            f.Release(factory)
            if result != A.S_OK:
                raise QuorvelError(429, "the class factory of %s failed (0x%08X)" % (progid, result & 0xFFFFFFFF),
                                   hresult=result)
            _pointer = out.value
        object.__setattr__(self, "_pointer", _pointer)
        global _types_cache
        if _types is None:
            if _types_cache is None:  # the library's types are the same for every object
                _types_cache = _TypeLibrary(_pointer)
            _types = _types_cache
        object.__setattr__(self, "_types", _types)
        object.__setattr__(self, "__class__", _types.dispatch_class)
        object.__setattr__(self, "_ids", {})
        # per call kind, by name: dispid, parameters, whether any is by reference
        object.__setattr__(self, "_plans", {f: {} for f in (A.DISPATCH_METHOD, A.DISPATCH_PROPERTYGET,
                                                              A.DISPATCH_PROPERTYGET | A.DISPATCH_METHOD,
                                                              A.DISPATCH_PROPERTYPUT)})
        vtable = A.vtbl(_pointer, A.IDispatchVtbl)  # the object's functions, looked up once
        object.__setattr__(self, "_call", _INVOKE(C.cast(vtable.Invoke, C.c_void_p).value))
        object.__setattr__(self, "_names", vtable.GetIDsOfNames)

    def __del__(self):
        p = getattr(self, "_pointer", None)
        if p and _lib is not None:
            object.__setattr__(self, "_pointer", None)
            _release(p)

    def _id(self, name):
        dispid = self._ids.get(name)
        if dispid is None:
            key = name.lower()
            if key not in self._ids:
                disp = C.c_int32()
                names = (C.c_char_p * 1)(name.encode())
                _check(self._names(self._pointer, None, names, 1, 0, C.byref(disp)), name=name)
                self._ids[key] = disp.value
            dispid = self._ids[name] = self._ids[key]
        return dispid

    def _params(self, name, kind):
        entry = self._types.members.get(name.lower(), {})
        return entry.get(kind) or entry.get(A.DISPATCH_METHOD) or entry.get(A.DISPATCH_PROPERTYGET) or []

    def _plan(self, name, flags):
        params = self._params(name, flags & ~A.DISPATCH_METHOD or A.DISPATCH_METHOD)
        plan = self._plans[flags][name] = (self._id(name), params, any(p[1] & A.PARAMFLAG_FOUT for p in params))
        return plan

    def _invoke(self, name, flags, args, kwargs):
        plan = self._plans[flags].get(name)
        dispid, params, has_out = plan if plan is not None else self._plan(name, flags)
        if kwargs:  # keywords by parameter name; gaps are left out
            args = list(args)
            names = [p[0].lower() for p in params]
            for key, value in kwargs.items():
                if key.lower() not in names:
                    raise TypeError("%s has no parameter %r (parameters: %s)"
                                    % (name, key, ", ".join(p[0] for p in params)))
                k = names.index(key.lower())
                args += [_MISSING] * (k + 1 - len(args))
                if args[k] is not _MISSING:  # given by position, or twice by name in other cases
                    raise TypeError("%s got more than one value for parameter %r" % (name, params[k][0]))
                args[k] = value
        n = len(args)
        try:
            s = _per_thread.buffers
        except AttributeError:
            s = _per_thread.buffers = _Buffers()
        if s.busy or n > _MAX_FAST_ARGS:  # a call from a signal handler, or many arguments: buffers of its own
            s = _Buffers(max(n, _MAX_FAST_ARGS))
        s.busy = True
        slots, result = s.slots, s.result
        byref, clear = None, False
        try:
            for k, value in enumerate(args):
                at = (n - 1 - k) * _VARIANT_SIZE  # the last argument comes first
                kind = type(value)
                if kind is float:
                    _NUMBER.pack_into(slots, at, _VT_R8, value)
                elif kind is int and -2**31 <= value < 2**31:
                    _LONG.pack_into(slots, at, _VT_I4, value)
                elif value is _MISSING:
                    _LONG.pack_into(slots, at, A.VT_ERROR, A.DISP_E_PARAMNOTFOUND)
                elif has_out and k < len(params) and params[k][1] & A.PARAMFLAG_FOUT and isinstance(
                        value, (list, array.array, Record, Ref)):
                    ref = s.refs[k]
                    _to_variant(value, ref)
                    slot = slots[n - 1 - k]
                    slot.vt, slot.u.pvarVal = A.VT_BYREF | A.VT_VARIANT, C.addressof(ref)
                    byref = (byref or []) + [k]
                    clear = True
                else:
                    _to_variant(value, slots[n - 1 - k])
                    clear = True
            _VT.pack_into(result, 0, A.VT_EMPTY)
            dp = s.params.get(-n - 1 if flags == _PUT else n) or s.params_at(n, flags == _PUT)
            hr = self._call(self._pointer, dispid, None, 0, flags, dp, *s.rest)
            if hr:
                self._fail(hr, name, params, args, flags, s)
            if byref:
                for k in byref:
                    _write_back(args[k], s.refs[k], self._types)
            vt, number = _NUMBER.unpack_from(result)
            if vt == _VT_R8:
                return number
            if vt == _VT_I4:
                return _LONG.unpack_from(result)[1]
            value = _from_variant(result, self._types)
            if vt not in _SIMPLE:
                _lib.VariantClear(C.byref(result))
            return value
        finally:
            if clear:
                for k in range(n):
                    _lib.VariantClear(C.byref(slots[k]))
                    _lib.VariantClear(C.byref(s.refs[k]))
            s.busy = False

    def _fail(self, hr, name, params, args, flags, s):
        n = len(args)
        if hr == A.DISP_E_PARAMNOTOPTIONAL:
            # Left out: the first required parameter not given (a put's value is its last one).
            given = list(args[:-1]) if flags == _PUT and args else list(args)
            leading = params[:-1] if flags == _PUT and params else params
            missing = [p[0] for i, p in enumerate(leading)
                       if not p[1] & A.PARAMFLAG_FOPT and (i >= len(given) or given[i] is _MISSING)]
            _check(hr, name="%s, %s" % (name, missing[0] if missing else "argument %d" % (n + 1)))
        if hr in (A.DISP_E_TYPEMISMATCH, A.DISP_E_OVERFLOW):
            k = n - 1 - s.arg_err.value
            label = params[k][0] if 0 <= k < len(params) else "argument %d" % (k + 1)
            _check(hr, name="%s, %s" % (name, label))
        excep = A.EXCEPINFO()
        C.memmove(C.byref(excep), C.byref(s.excep), C.sizeof(excep))
        C.memset(C.byref(s.excep), 0, C.sizeof(excep))
        _check(hr, excep, name)

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        return _member(self, name, _kind(self._types, name))  # another spelling of a member

    def __setattr__(self, name, value):
        self._invoke(name, A.DISPATCH_PROPERTYPUT, (value,), None)

    def __dir__(self):
        return sorted(m["name"] for m in self._types.members.values())

    def __repr__(self):
        return "<quorvel.Dispatch %s at 0x%x>" % (PROGID, self._pointer or 0)


_VARIANT_SIZE = C.sizeof(A.VARIANT)


_MISSING = object()
