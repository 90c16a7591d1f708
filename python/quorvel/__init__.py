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

import ctypes as C
import enum
import os
import stat
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
    elif isinstance(value, str):
        data = value.encode("utf-8")
        v.vt, v.u.bstrVal = A.VT_BSTR, _lib.SysAllocStringLen(data, len(data))
    elif isinstance(value, Record):
        items = list(value)
        array = _lib.SafeArrayCreateVector(A.VT_VARIANT, 0, len(items))
        v.vt, v.u.rec.pFields, v.u.rec.pRecName = A.VT_RECORD, array, value._name.encode()
        elems = C.cast(array.contents.pvData, C.POINTER(A.VARIANT))
        for k, item in enumerate(items):
            _to_variant(item, elems[k])
    elif isinstance(value, (list, tuple)):
        whole = all(isinstance(x, int) and not isinstance(x, bool) and -2**31 <= x < 2**31 for x in value)
        vt, ctype = (A.VT_I4, C.c_int32) if whole and value else (A.VT_R8, C.c_double)
        array = _lib.SafeArrayCreateVector(vt, 0, len(value))
        if not array:
            raise MemoryError("the component could not make an array of %d values" % len(value))
        if value:
            C.memmove(array.contents.pvData, (ctype * len(value))(*value), len(value) * C.sizeof(ctype))
        v.vt, v.u.parray = A.VT_ARRAY | vt, array
    elif isinstance(value, Dispatch):
        A.vtbl(value._pointer, A.IDispatchVtbl).AddRef(value._pointer)
        v.vt, v.u.pdispVal = A.VT_DISPATCH, value._pointer
    else:
        raise TypeError("cannot pass %s to the component" % type(value).__name__)


def _from_variant(v, types):
    """The Python value of VARIANT v (which stays the caller's to clear)."""
    vt = v.vt
    if vt & A.VT_ARRAY:
        a = v.u.parray.contents
        if a.vt == A.VT_I4:
            return list((C.c_int32 * a.cElements).from_address(a.pvData)) if a.cElements else []
        if a.vt == A.VT_R8:
            return list((C.c_double * a.cElements).from_address(a.pvData)) if a.cElements else []
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
    return {A.VT_EMPTY: lambda: None, A.VT_NULL: lambda: None, A.VT_I2: lambda: v.u.iVal,
            A.VT_I4: lambda: v.u.lVal, A.VT_R8: lambda: v.u.dblVal, A.VT_BOOL: lambda: v.u.boolVal != 0,
            A.VT_BSTR: lambda: C.string_at(v.u.bstrVal, _lib.SysStringLen(v.u.bstrVal)).decode("utf-8", "replace")
            if v.u.bstrVal else ""}.get(vt, lambda: None)()


def _write_back(target, value):
    """Puts a returned by-reference value into the caller's argument."""
    if isinstance(target, Ref):
        target.value = value
    elif isinstance(target, list):
        target[:] = value
    elif isinstance(target, Record) and isinstance(value, Record):
        for n, _ in target._fields:
            setattr(target, n, getattr(value, n))


class _IndexedProperty:
    """A property with arguments: ``u.Frequency(1)``, ``u.Frequency[1]``, ``u.Frequency[1] = 2.4e9``."""

    def __init__(self, owner, name):
        self._owner, self._name = owner, name

    def __call__(self, *args):
        return self._owner._invoke(self._name, A.DISPATCH_PROPERTYGET | A.DISPATCH_METHOD, args, {})

    def __getitem__(self, key):
        return self(*(key if isinstance(key, tuple) else (key,)))

    def __setitem__(self, key, value):
        keys = key if isinstance(key, tuple) else (key,)
        self._owner._invoke(self._name, A.DISPATCH_PROPERTYPUT, keys + (value,), {})


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
        object.__setattr__(self, "_ids", {})

    def __del__(self):
        p = getattr(self, "_pointer", None)
        if p and _lib is not None:
            object.__setattr__(self, "_pointer", None)
            _release(p)

    def _id(self, name):
        key = name.lower()
        if key not in self._ids:
            disp = C.c_int32()
            names = (C.c_char_p * 1)(name.encode())
            result = A.vtbl(self._pointer, A.IDispatchVtbl).GetIDsOfNames(self._pointer, None, names, 1, 0,
                                                                           C.byref(disp))
            _check(result, name=name)
            self._ids[key] = disp.value
        return self._ids[key]

    def _params(self, name, kind):
        entry = self._types.members.get(name.lower(), {})
        return entry.get(kind) or entry.get(A.DISPATCH_METHOD) or entry.get(A.DISPATCH_PROPERTYGET) or []

    def _invoke(self, name, flags, args, kwargs):
        dispid = self._id(name)
        params = self._params(name, flags & ~A.DISPATCH_METHOD or A.DISPATCH_METHOD)
        args = list(args)
        if kwargs:  # keywords by parameter name; gaps are left out
            names = [p[0].lower() for p in params]
            for key, value in kwargs.items():
                if key.lower() not in names:
                    raise TypeError("%s has no parameter %r (parameters: %s)"
                                    % (name, key, ", ".join(p[0] for p in params)))
                k = names.index(key.lower())
                args += [_MISSING] * (k + 1 - len(args))
                args[k] = value
        n = len(args)
        slots = (A.VARIANT * max(n, 1))()
        refs = (A.VARIANT * max(n, 1))()
        byref = []
        try:
            for k, value in enumerate(args):
                slot = slots[n - 1 - k]  # the last argument comes first
                if value is _MISSING:
                    slot.vt, slot.u.scode = A.VT_ERROR, A.DISP_E_PARAMNOTFOUND
                    continue
                out = k < len(params) and params[k][1] & A.PARAMFLAG_FOUT
                if out and isinstance(value, (list, Record, Ref)):
                    _to_variant(value, refs[k])
                    slot.vt, slot.u.pvarVal = A.VT_BYREF | A.VT_VARIANT, C.addressof(refs[k])
                    byref.append(k)
                else:
                    _to_variant(value, slot)
            put = C.c_int32(A.DISPID_PROPERTYPUT)
            dp = A.DISPPARAMS(slots if n else None, C.pointer(put) if flags == A.DISPATCH_PROPERTYPUT else None, n,
                              1 if flags == A.DISPATCH_PROPERTYPUT else 0)
            result, excep, arg_err = A.VARIANT(), A.EXCEPINFO(), C.c_uint32()
            hr = A.vtbl(self._pointer, A.IDispatchVtbl).Invoke(self._pointer, dispid, None, 0, flags, C.byref(dp),
                                                                C.byref(result), C.byref(excep), C.byref(arg_err))
            if hr == A.DISP_E_PARAMNOTOPTIONAL:
                # Left out: the first required parameter after those given.
                missing = [p[0] for p in params[n:] if not p[1] & A.PARAMFLAG_FOPT]
                _check(hr, name="%s, %s" % (name, missing[0] if missing else "argument %d" % (n + 1)))
            if hr in (A.DISP_E_TYPEMISMATCH, A.DISP_E_OVERFLOW):
                k = n - 1 - arg_err.value
                label = params[k][0] if 0 <= k < len(params) else "argument %d" % (k + 1)
                _check(hr, name="%s, %s" % (name, label))
            _check(hr, excep, name)
            for k in byref:
                _write_back(args[k], _from_variant(refs[k], self._types))
            value = _from_variant(result, self._types)
            _lib.VariantClear(C.byref(result))
            return value
        finally:
            for k in range(n):
                _lib.VariantClear(C.byref(slots[k]))
                _lib.VariantClear(C.byref(refs[k]))

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        self._id(name)  # unknown names fail here, with the component's answer
        entry = self._types.members.get(name.lower(), {})
        get = entry.get(A.DISPATCH_PROPERTYGET)
        if get is not None and not get:
            return self._invoke(name, A.DISPATCH_PROPERTYGET, (), {})
        if get:
            return _IndexedProperty(self, name)
        return lambda *args, **kwargs: self._invoke(name, A.DISPATCH_METHOD, args, kwargs)

    def __setattr__(self, name, value):
        self._invoke(name, A.DISPATCH_PROPERTYPUT, (value,), {})

    def __dir__(self):
        return sorted(m["name"] for m in self._types.members.values())

    def __repr__(self):
        return "<quorvel.Dispatch %s at 0x%x>" % (PROGID, self._pointer or 0)


_MISSING = object()
