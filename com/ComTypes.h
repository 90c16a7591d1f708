/* The binary boundary of the component, COM-shaped and plain C, so that a
 * host in any language (C, C++, Python's ctypes) can load the library,
 * create objects through its class factory and drive them by name.
 *
 * Differences from Windows COM, chosen for a portable host:
 *  - strings (BSTR) are UTF-8 with a 32-bit byte count before the text and
 *    a NUL after it; names handed to GetIDsOfNames are plain UTF-8;
 *  - a record in a VARIANT (VT_RECORD) is an array of VARIANTs holding its
 *    fields in declared order, with the record type's name beside it;
 *  - a by-reference argument is VT_BYREF|VT_VARIANT pointing at the
 *    caller's VARIANT, which the callee may replace (freeing the old value);
 *  - type information is a reduced ITypeInfo/ITypeLib that hands out
 *    static descriptions (names, values, fields, members).
 * Everything a component allocates (strings, arrays) is freed with the
 * component's own SysFreeString/SafeArrayDestroy/VariantClear. */
#ifndef QUORVEL_COM_TYPES_H
#define QUORVEL_COM_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t HRESULT;
typedef char* BSTR;

typedef struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;

#define QV_HR(x) ((HRESULT)(uint32_t)(x))
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL QV_HR(0x80004001u)
#define E_NOINTERFACE QV_HR(0x80004002u)
#define E_POINTER QV_HR(0x80004003u)
#define E_FAIL QV_HR(0x80004005u)
#define E_OUTOFMEMORY QV_HR(0x8007000Eu)
#define E_INVALIDARG QV_HR(0x80070057u)
#define SELFREG_E_CLASS QV_HR(0x80040201u)
#define CLASS_E_NOAGGREGATION QV_HR(0x80040110u)
#define CLASS_E_CLASSNOTAVAILABLE QV_HR(0x80040111u)
#define REGDB_E_CLASSNOTREG QV_HR(0x80040154u)
#define DISP_E_MEMBERNOTFOUND QV_HR(0x80020003u)
#define DISP_E_PARAMNOTFOUND QV_HR(0x80020004u)
#define DISP_E_TYPEMISMATCH QV_HR(0x80020005u)
#define DISP_E_UNKNOWNNAME QV_HR(0x80020006u)
#define DISP_E_NONAMEDARGS QV_HR(0x80020007u)
#define DISP_E_EXCEPTION QV_HR(0x80020009u)
#define DISP_E_OVERFLOW QV_HR(0x8002000Au)
#define DISP_E_BADINDEX QV_HR(0x8002000Bu)
#define DISP_E_BADPARAMCOUNT QV_HR(0x8002000Eu)
#define DISP_E_PARAMNOTOPTIONAL QV_HR(0x8002000Fu)
#define TYPE_E_ELEMENTNOTFOUND QV_HR(0x8002802Bu)

/* Variant types. */
enum {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R8 = 5,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_RECORD = 36,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000
};
#define VARIANT_TRUE ((int16_t)-1)
#define VARIANT_FALSE ((int16_t)0)

/* A one-dimensional array of VT_I4, VT_R8, VT_BSTR or VT_VARIANT elements. */
typedef struct SAFEARRAY {
  uint16_t cDims;
  uint16_t fFeatures;
  uint32_t cbElements;
  uint32_t cLocks;
  void* pvData;
  uint32_t cElements;
  int32_t lLbound;
  uint16_t vt;
} SAFEARRAY;

struct IDispatch;

typedef struct VARIANT {
  uint16_t vt;
  uint16_t wReserved1;
  uint16_t wReserved2;
  uint16_t wReserved3;
  union {
    int64_t llVal;
    int32_t lVal;
    int16_t iVal;
    int16_t boolVal;
    double dblVal;
    int32_t scode;
    BSTR bstrVal;
    struct IDispatch* pdispVal;
    SAFEARRAY* parray;
    struct VARIANT* pvarVal;
    struct {
      SAFEARRAY* pFields;      /* VT_VARIANT array, the fields in order */
      const char* pRecName;    /* the record type's name; never freed */
    } rec;
  } u;
} VARIANT;

typedef struct DISPPARAMS {
  VARIANT* rgvarg;             /* the arguments, last argument first */
  int32_t* rgdispidNamedArgs;  /* only DISPID_PROPERTYPUT is understood */
  uint32_t cArgs;
  uint32_t cNamedArgs;
} DISPPARAMS;

typedef struct EXCEPINFO {
  uint16_t wCode;
  uint16_t wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  uint32_t dwHelpContext;
  void* pvReserved;
  void* pfnDeferredFillIn;
  HRESULT scode;               /* 0x800A0000 | number for run-time errors 1..65535 */
} EXCEPINFO;

enum {
  DISPATCH_METHOD = 1,
  DISPATCH_PROPERTYGET = 2,
  DISPATCH_PROPERTYPUT = 4
};
#define DISPID_UNKNOWN (-1)
#define DISPID_PROPERTYPUT (-3)

/* --- static type descriptions ------------------------------------------- */
enum { TKIND_ENUM = 0, TKIND_RECORD = 1, TKIND_DISPATCH = 4, TKIND_COCLASS = 5 };
enum { PARAMFLAG_FIN = 1, PARAMFLAG_FOUT = 2, PARAMFLAG_FOPT = 16 };

/* An enumeration member (name, value), a record field (name, vt, type name)
 * or a parameter (name, vt, flags, type name, default text). */
typedef struct ELEMDESC {
  const char* name;
  uint16_t vt;
  uint16_t flags;
  int32_t value;
  const char* typeName;        /* enumeration or record a Long/record names, or NULL */
  const char* defaultValue;    /* of an optional parameter, or NULL */
} ELEMDESC;

typedef struct FUNCDESC {
  const char* name;
  int32_t memid;
  uint16_t invkind;            /* DISPATCH_METHOD, _PROPERTYGET or _PROPERTYPUT */
  uint16_t vtResult;           /* VT_EMPTY for none */
  const char* resultTypeName;
  uint32_t cParams;
  const ELEMDESC* params;
} FUNCDESC;

typedef struct TYPEDESC {
  const char* name;
  GUID guid;
  int32_t typekind;
  uint32_t cFuncs;
  const FUNCDESC* funcs;
  uint32_t cVars;              /* enumeration members or record fields */
  const ELEMDESC* vars;
} TYPEDESC;

typedef struct TLIBATTR {
  GUID guid;
  uint16_t wMajorVerNum;
  uint16_t wMinorVerNum;
  const char* name;
} TLIBATTR;

/* --- interfaces ---------------------------------------------------------- */
typedef struct IUnknown IUnknown;
typedef struct IClassFactory IClassFactory;
typedef struct IDispatch IDispatch;
typedef struct ITypeInfo ITypeInfo;
typedef struct ITypeLib ITypeLib;

#define QV_IUNKNOWN_METHODS(T)                                    \
  HRESULT (*QueryInterface)(T * self, const GUID* riid, void** ppv); \
  uint32_t (*AddRef)(T * self);                                   \
  uint32_t (*Release)(T * self);

typedef struct IUnknownVtbl {
  QV_IUNKNOWN_METHODS(IUnknown)
} IUnknownVtbl;
struct IUnknown {
  const IUnknownVtbl* lpVtbl;
};

typedef struct IClassFactoryVtbl {
  QV_IUNKNOWN_METHODS(IClassFactory)
  HRESULT (*CreateInstance)(IClassFactory* self, IUnknown* outer, const GUID* riid, void** ppv);
  HRESULT (*LockServer)(IClassFactory* self, int32_t lock);
} IClassFactoryVtbl;
struct IClassFactory {
  const IClassFactoryVtbl* lpVtbl;
};

typedef struct IDispatchVtbl {
  QV_IUNKNOWN_METHODS(IDispatch)
  HRESULT (*GetTypeInfoCount)(IDispatch* self, uint32_t* pctinfo);
  HRESULT (*GetTypeInfo)(IDispatch* self, uint32_t iTInfo, uint32_t lcid, ITypeInfo** ppTInfo);
  HRESULT (*GetIDsOfNames)(IDispatch* self, const GUID* riid, const char** names, uint32_t cNames, uint32_t lcid,
                           int32_t* rgDispId);
  HRESULT (*Invoke)(IDispatch* self, int32_t dispid, const GUID* riid, uint32_t lcid, uint16_t wFlags,
                    DISPPARAMS* params, VARIANT* result, EXCEPINFO* excep, uint32_t* argErr);
} IDispatchVtbl;
struct IDispatch {
  const IDispatchVtbl* lpVtbl;
};

typedef struct ITypeInfoVtbl {
  QV_IUNKNOWN_METHODS(ITypeInfo)
  HRESULT (*GetTypeDesc)(ITypeInfo* self, const TYPEDESC** desc);
  HRESULT (*GetContainingTypeLib)(ITypeInfo* self, ITypeLib** lib, uint32_t* index);
} ITypeInfoVtbl;
struct ITypeInfo {
  const ITypeInfoVtbl* lpVtbl;
};

typedef struct ITypeLibVtbl {
  QV_IUNKNOWN_METHODS(ITypeLib)
  uint32_t (*GetTypeInfoCount)(ITypeLib* self);
  HRESULT (*GetTypeInfo)(ITypeLib* self, uint32_t index, ITypeInfo** info);
  HRESULT (*GetLibAttr)(ITypeLib* self, const TLIBATTR** attr);
  HRESULT (*GetTypeInfoOfGuid)(ITypeLib* self, const GUID* guid, ITypeInfo** info);
} ITypeLibVtbl;
struct ITypeLib {
  const ITypeLibVtbl* lpVtbl;
};

/* --- the entry points and memory helpers the library exports ---------- */
typedef HRESULT (*PFN_DllGetClassObject)(const GUID* rclsid, const GUID* riid, void** ppv);
typedef HRESULT (*PFN_DllCanUnloadNow)(void);
typedef HRESULT (*PFN_DllRegisterServer)(void);

HRESULT DllRegisterServer(void);
HRESULT DllUnregisterServer(void);
HRESULT DllGetClassObject(const GUID* rclsid, const GUID* riid, void** ppv);
HRESULT DllCanUnloadNow(void);

BSTR SysAllocStringLen(const char* text, uint32_t len);
BSTR SysAllocString(const char* text);
uint32_t SysStringLen(BSTR text);
void SysFreeString(BSTR text);
SAFEARRAY* SafeArrayCreateVector(uint16_t vt, int32_t lbound, uint32_t count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);

#ifdef __cplusplus
}
#endif

#endif
