// A C++ host of the registered Windows component, as Windows hosts use it:
// CoCreateInstance by class id, early-bound calls through the header widl
// makes from the type library, IDispatch with named and by-reference
// arguments as VB6 passes them, records, the error information, the
// registry keys.  The unit is whatever the host configuration names
// ($QUORVEL_CONFIG): the embedded simulator, or one on the network; with
// $QUORVEL_EXPECT_ADDRESS the test checks that it is that one.
#include <initguid.h>

#include "Tavlor_QuorvelUnit_h.h"

#include <cguid.h>
#include <gtest/gtest.h>
#include <olectl.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const char* s) { return std::wstring(s, s + std::strlen(s)); }

template <class T>
class Ptr {
 public:
  Ptr() = default;
  ~Ptr() { Reset(); }
  Ptr(const Ptr&) = delete;
  Ptr& operator=(const Ptr&) = delete;
  T** operator&() {
    Reset();
    return &p_;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* s) : s_(::SysAllocString(s)) {}
  ~Bstr() { ::SysFreeString(s_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR* operator&() { return &s_; }
  BSTR get() const { return s_; }
  std::wstring str() const { return s_ ? std::wstring(s_, ::SysStringLen(s_)) : std::wstring(); }

 private:
  BSTR s_ = nullptr;
};

// The thread's error information after a failed call: source, description.
std::pair<std::wstring, std::wstring> LastError() {
  Ptr<IErrorInfo> info;
  if (::GetErrorInfo(0, &info) != S_OK || !info.get()) return {};
  Bstr source, description;
  info->GetSource(&source);
  info->GetDescription(&description);
  return {source.str(), description.str()};
}

std::vector<double> Values(SAFEARRAY* a) {
  std::vector<double> out;
  if (!a) return out;
  LONG lo = 0, hi = -1;
  ::SafeArrayGetLBound(a, 1, &lo);
  ::SafeArrayGetUBound(a, 1, &hi);
  for (LONG i = lo; i <= hi; ++i) {
    double v = 0;
    ::SafeArrayGetElement(a, &i, &v);
    out.push_back(v);
  }
  return out;
}

class Com : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { ::CoUninitialize(); }
};
const auto* const g_com = ::testing::AddGlobalTestEnvironment(new Com);

class Component : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(::CoCreateInstance(CLSID_clsQuorvelUnit, nullptr, CLSCTX_INPROC_SERVER,
                                                IID__clsQuorvelUnit, reinterpret_cast<void**>(&unit)));
  }

  // The unit opened and identified, and one burst search made on DUT1.
  void Search() {
    Bstr name(L"Zentrix8");
    ASSERT_HRESULT_SUCCEEDED(unit->put_clsDevice_Name(name.get()));
    ASSERT_HRESULT_SUCCEEDED(unit->put_clsDevice_Status(1));
    ASSERT_HRESULT_SUCCEEDED(unit->clsDevice_Initialize());
    ASSERT_HRESULT_SUCCEEDED(unit->SetActivePortClr());
    ASSERT_HRESULT_SUCCEEDED(unit->SetActivePort(ppDUT1, VARIANT_TRUE, VARIANT_FALSE));
    ASSERT_HRESULT_SUCCEEDED(unit->SendActivePorts());
    ASSERT_HRESULT_SUCCEEDED(unit->SetFrequency(2.4e9, ppDUTAll, VARIANT_FALSE));
    ASSERT_HRESULT_SUCCEEDED(unit->SetMeasTime(0.05, ppDUTAll, VARIANT_FALSE));
    ASSERT_HRESULT_SUCCEEDED(unit->SetBurstSearchLevel(20, ppDUTAll, VARIANT_FALSE));
    ASSERT_HRESULT_SUCCEEDED(unit->SendAllSettings());
    ASSERT_HRESULT_SUCCEEDED(unit->MeasurementInit(ppDUT1));
    ::Sleep(60);
    ASSERT_HRESULT_SUCCEEDED(unit->BurstSearchInit(ppDUT1));
    ASSERT_HRESULT_SUCCEEDED(unit->GetBurstCount(ppDUT1, &count));
    ASSERT_GT(count, 0);
  }

  Ptr<_clsQuorvelUnit> unit;
  LONG count = 0;
};

TEST_F(Component, RunsTheMainJobEarlyBound) {
  Search();
  DeviceInfo info{};
  ASSERT_HRESULT_SUCCEEDED(unit->get_clsDevice_Info(&info));
  EXPECT_GT(::SysStringLen(info.SerialNumber), 0u);
  if (const char* expected = std::getenv("QUORVEL_EXPECT_ADDRESS")) {
    EXPECT_EQ(std::wstring(info.Address), Wide(expected));
  }
  for (BSTR* s : {&info.InfoText, &info.FirmwareVersion, &info.SerialNumber, &info.Address}) ::SysFreeString(*s);

  double duty = -1, low = 0, high = 0;
  ASSERT_HRESULT_SUCCEEDED(unit->GetDutyCycle(ppDUT1, &duty));
  EXPECT_GT(duty, 0);
  EXPECT_LT(duty, 100);
  ASSERT_HRESULT_SUCCEEDED(unit->GetTraceMin(ppDUT1, &low));
  ASSERT_HRESULT_SUCCEEDED(unit->GetTraceMax(ppDUT1, &high));
  EXPECT_LT(low, high);

  MeasuredValue rms{};
  ASSERT_HRESULT_SUCCEEDED(unit->Measure(ppDUT1, &rms));
  EXPECT_GT(::SysStringLen(rms.Unit.Text), 0u);
  ::SysFreeString(rms.Unit.Text);
}

// A dynamic array (VB6's `Dim levels() As Double`) is dimensioned to the
// bursts found, whatever it held; a fixed-size one is filled when it is
// large enough and refused, untouched, when it is not.
TEST_F(Component, FillsArraysByReferenceAsVbPassesThem) {
  Search();
  SAFEARRAY* starts = nullptr;
  LONG status = 0;
  ASSERT_HRESULT_SUCCEEDED(unit->GetBurstStartTime(ppDUT1, &starts, &status));
  ASSERT_EQ(Values(starts).size(), static_cast<std::size_t>(count));
  LONG lo = -1;
  ::SafeArrayGetLBound(starts, 1, &lo);
  EXPECT_EQ(lo, 0);
  ::SafeArrayDestroy(starts);

  SAFEARRAY* levels = ::SafeArrayCreateVector(VT_R8, 5, 2);  // ReDim levels(5 To 6)
  ASSERT_HRESULT_SUCCEEDED(unit->GetBurstLevel(ppDUT1, &levels, &status));
  const std::vector<double> got = Values(levels);
  ASSERT_EQ(got.size(), static_cast<std::size_t>(count));
  double low = 0, high = 0;
  ASSERT_HRESULT_SUCCEEDED(unit->GetTraceMin(ppDUT1, &low));
  ASSERT_HRESULT_SUCCEEDED(unit->GetTraceMax(ppDUT1, &high));
  for (double level : got) {
    EXPECT_GE(level, low);
    EXPECT_LE(level, high);
  }
  ::SafeArrayDestroy(levels);

  SAFEARRAYBOUND small{static_cast<ULONG>(count - 1), 0};
  SAFEARRAY* fixed = ::SafeArrayCreate(VT_R8, 1, &small);
  fixed->fFeatures |= FADF_FIXEDSIZE;  // Dim levels(0 To n-2) As Double
  SAFEARRAY* const before = fixed;
  EXPECT_EQ(unit->GetBurstLevel(ppDUT1, &fixed, &status), static_cast<HRESULT>(0x800A000A));
  EXPECT_EQ(fixed, before);
  EXPECT_EQ(Values(fixed), std::vector<double>(count - 1, 0.0));
  ::SafeArrayDestroy(fixed);

  SAFEARRAYBOUND large{static_cast<ULONG>(count + 2), 1};
  fixed = ::SafeArrayCreate(VT_R8, 1, &large);
  fixed->fFeatures |= FADF_FIXEDSIZE;
  ASSERT_HRESULT_SUCCEEDED(unit->GetBurstLevel(ppDUT1, &fixed, &status));
  const std::vector<double> filled = Values(fixed);
  EXPECT_EQ(std::vector<double>(filled.begin(), filled.begin() + count), got);
  EXPECT_EQ(filled.back(), 0.0);
  ::SafeArrayDestroy(fixed);
}

// A record type of the type library, by name.
void RecordInfo(ITypeLib* lib, const wchar_t* name, IRecordInfo** out) {
  *out = nullptr;
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    Bstr n;
    lib->GetDocumentation(static_cast<INT>(i), &n, nullptr, nullptr, nullptr);
    Ptr<ITypeInfo> info;
    if (n.str() == name && SUCCEEDED(lib->GetTypeInfo(i, &info))) ::GetRecordInfoFromTypeInfo(info.get(), out);
  }
}

// A host that calls one object from two threads (past COM's apartments)
// gets each call's own answer: the component makes the calls one at a time.
TEST_F(Component, OneObjectFromTwoThreadsNeverMixesAnswers) {
  Bstr name(L"Zentrix8");
  ASSERT_HRESULT_SUCCEEDED(unit->put_clsDevice_Name(name.get()));
  ASSERT_HRESULT_SUCCEEDED(unit->put_clsDevice_Status(1));
  ASSERT_HRESULT_SUCCEEDED(unit->clsDevice_Initialize());
  ASSERT_HRESULT_SUCCEEDED(unit->SetFrequency(1e9, ppDUT1, VARIANT_TRUE));
  ASSERT_HRESULT_SUCCEEDED(unit->SetFrequency(2e9, ppDUT2, VARIANT_TRUE));
  std::atomic<int> wrong{0};
  auto ask = [&](QuorvelPowerPort port, double want) {
    for (int i = 0; i < 100; ++i) {
      double got = 0;
      if (FAILED(unit->GetFrequency(port, VARIANT_TRUE, &got)) || got != want) ++wrong;
    }
  };
  std::thread other([&] {
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ask(ppDUT2, 2e9);
    ::CoUninitialize();
  });
  ask(ppDUT1, 1e9);
  other.join();
  EXPECT_EQ(wrong.load(), 0);
}

// The path catalogue's numbers, as the component answers them on every system.
TEST_F(Component, TakesRecordsByReference) {
  AttTableProp prop{pDUT3, pReceiver, VARIANT_FALSE, VARIANT_FALSE, VARIANT_FALSE, 0};
  LONG path = -1;
  ASSERT_HRESULT_SUCCEEDED(unit->GetPathNr(&prop, &path));
  EXPECT_EQ(path, 2);
  prop.Sum = VARIANT_TRUE;
  ASSERT_HRESULT_SUCCEEDED(unit->GetPathNr(&prop, &path));
  EXPECT_EQ(path, 3);
  Bstr file;
  ASSERT_HRESULT_SUCCEEDED(unit->GetPathAttenuationFilename(&prop, &file));
  EXPECT_FALSE(file.str().empty());

  // The same record in a variant, late-bound, with its record information.
  Ptr<ITypeLib> lib;
  ASSERT_HRESULT_SUCCEEDED(::LoadRegTypeLib(LIBID_Tavlor_QuorvelUnit, 24, 0, 0, &lib));
  Ptr<IRecordInfo> record;
  RecordInfo(lib.get(), L"AttTableProp", &record);
  ASSERT_TRUE(record.get());
  VARIANT arg;
  ::VariantInit(&arg);
  arg.vt = VT_RECORD;
  arg.pvRecord = &prop;
  arg.pRecInfo = record.get();
  DISPPARAMS p{&arg, nullptr, 1, 0};
  VARIANT result;
  ::VariantInit(&result);
  LPOLESTR name = const_cast<LPOLESTR>(L"GetPathNr");
  DISPID id = 0;
  ASSERT_HRESULT_SUCCEEDED(unit->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
  ASSERT_HRESULT_SUCCEEDED(unit->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &p, &result, nullptr, nullptr));
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, 3);

  // A record of another type is refused, whatever its size.
  Ptr<IRecordInfo> other;
  RecordInfo(lib.get(), L"DeviceInfo", &other);
  ASSERT_TRUE(other.get());
  arg.pRecInfo = other.get();
  EXPECT_EQ(unit->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &p, &result, nullptr, nullptr), DISP_E_TYPEMISMATCH);
}

TEST_F(Component, RaisesDriverErrorsAsAVbComponentDoes) {
  // No device has the empty name: opening fails.
  EXPECT_EQ(unit->put_clsDevice_Status(1), static_cast<HRESULT>(0x800A0005));
  Ptr<ISupportErrorInfo> support;
  ASSERT_HRESULT_SUCCEEDED(unit->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)));
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID__clsQuorvelUnit), S_OK);
  const auto [source, description] = LastError();
  EXPECT_EQ(source, L"clsQuorvelUnit");
  EXPECT_NE(description.find(L"no device named"), std::wstring::npos) << std::string(description.begin(), description.end());
}

// --- late-bound, as VB6 and scripting hosts call ---------------------------------------

DISPID IdOf(IDispatch* d, const wchar_t* name) {
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID id = DISPID_UNKNOWN;
  EXPECT_HRESULT_SUCCEEDED(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
  return id;
}

TEST_F(Component, LateBoundTakesNamedArgumentsAndChecksTypesItself) {
  Ptr<IDispatch> d;
  ASSERT_HRESULT_SUCCEEDED(unit->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)));

  // SetMeasTime time:=0.03, port:=ppDUT4 — named, in the other order.
  LPOLESTR names[] = {const_cast<LPOLESTR>(L"SetMeasTime"), const_cast<LPOLESTR>(L"port"),
                      const_cast<LPOLESTR>(L"time")};
  DISPID ids[3];
  ASSERT_HRESULT_SUCCEEDED(d->GetIDsOfNames(IID_NULL, names, 3, 0, ids));
  VARIANT args[2];
  ::VariantInit(&args[0]);
  ::VariantInit(&args[1]);
  args[0].vt = VT_I4;
  args[0].lVal = ppDUT4;
  args[1].vt = VT_R8;
  args[1].dblVal = 0.03;
  DISPID named[] = {ids[1], ids[2]};
  DISPPARAMS p{args, named, 2, 2};
  ASSERT_HRESULT_SUCCEEDED(d->Invoke(ids[0], IID_NULL, 0, DISPATCH_METHOD, &p, nullptr, nullptr, nullptr));
  double time = 0;
  ASSERT_HRESULT_SUCCEEDED(unit->GetMeasTime(ppDUT4, VARIANT_FALSE, &time));
  EXPECT_DOUBLE_EQ(time, 0.03);
  ASSERT_HRESULT_SUCCEEDED(unit->GetMeasTime(ppDUT5, VARIANT_FALSE, &time));
  EXPECT_NE(time, 0.03);

  // A Long() array where the member gives back a Double() array: refused
  // before the call, the caller's array untouched, the argument named.
  SAFEARRAY* longs = ::SafeArrayCreateVector(VT_I4, 0, 3);
  VARIANT call[2];
  ::VariantInit(&call[0]);
  ::VariantInit(&call[1]);
  call[0].vt = VT_BYREF | VT_ARRAY | VT_I4;  // values, the last argument first
  call[0].pparray = &longs;
  call[1].vt = VT_I4;
  call[1].lVal = ppDUT1;
  DISPPARAMS q{call, nullptr, 2, 0};
  VARIANT result;
  ::VariantInit(&result);
  UINT argErr = 99;
  EXPECT_EQ(d->Invoke(IdOf(d.get(), L"GetBurstLevel"), IID_NULL, 0, DISPATCH_METHOD, &q, &result, nullptr, &argErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  LONG hi = 0;
  ::SafeArrayGetUBound(longs, 1, &hi);
  EXPECT_EQ(hi, 2);
  ::SafeArrayDestroy(longs);

  // A text is not a number; a required argument left out is named.
  VARIANT text;
  ::VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = ::SysAllocString(L"abc");
  DISPPARAMS r{&text, nullptr, 1, 0};
  EXPECT_EQ(d->Invoke(IdOf(d.get(), L"GetBurstCount"), IID_NULL, 0, DISPATCH_METHOD, &r, &result, nullptr, nullptr),
            DISP_E_TYPEMISMATCH);
  ::VariantClear(&text);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(d->Invoke(IdOf(d.get(), L"GetBurstCount"), IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
            DISP_E_PARAMNOTOPTIONAL);

  // A driver error through Invoke: the exception as VB reads it.
  EXCEPINFO e{};
  VARIANT status;
  ::VariantInit(&status);
  status.vt = VT_I4;
  status.lVal = 1;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS s{&status, &put, 1, 1};
  EXPECT_EQ(d->Invoke(IdOf(d.get(), L"clsDevice_Status"), IID_NULL, 0, DISPATCH_PROPERTYPUT, &s, nullptr, &e, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(e.scode, static_cast<HRESULT>(0x800A0005));
  EXPECT_EQ(std::wstring(e.bstrSource ? e.bstrSource : L""), L"clsQuorvelUnit");
  ::SysFreeString(e.bstrSource);
  ::SysFreeString(e.bstrDescription);
}

TEST_F(Component, DescribesItselfThroughItsTypeLibrary) {
  Ptr<ITypeInfo> info;
  ASSERT_HRESULT_SUCCEEDED(unit->GetTypeInfo(0, 0, &info));
  TYPEATTR* attr = nullptr;
  ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attr));
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID__clsQuorvelUnit));
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  info->ReleaseTypeAttr(attr);

  Ptr<ITypeLib> lib;
  ASSERT_HRESULT_SUCCEEDED(::LoadRegTypeLib(LIBID_Tavlor_QuorvelUnit, 24, 0, 0, &lib));
  std::vector<std::wstring> names;
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    Bstr name;
    lib->GetDocumentation(static_cast<INT>(i), &name, nullptr, nullptr, nullptr);
    names.push_back(name.str());
  }
  for (const wchar_t* want : {L"QuorvelPowerPort", L"QuorvelPort", L"QuorvelPath", L"QuorvelAttenuator",
                              L"QuorvelErrorStatus", L"AttTableProp", L"AttTable", L"DeviceInfo", L"MeasuredValue",
                              L"_clsQuorvelUnit", L"clsQuorvelUnit"})
    EXPECT_NE(std::find(names.begin(), names.end(), want), names.end()) << std::string(want, want + wcslen(want));
}

// --- the registry --------------------------------------------------------------------

std::wstring Text(const GUID& g) {
  wchar_t buf[40] = {};
  ::StringFromGUID2(g, buf, 40);
  return buf;
}

std::wstring Value(const std::wstring& key, const wchar_t* name = nullptr) {
  HKEY h = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &h) != ERROR_SUCCESS) return L"<none>";
  wchar_t buf[512] = {};
  DWORD size = sizeof buf - sizeof(wchar_t);
  const LONG rc = ::RegQueryValueExW(h, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size);
  ::RegCloseKey(h);
  return rc == ERROR_SUCCESS ? buf : L"<no value>";
}

bool Exists(const std::wstring& key) {
  HKEY h = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
  ::RegCloseKey(h);
  return true;
}

const std::wstring kClass = L"CLSID\\" + Text(CLSID_clsQuorvelUnit);
const std::wstring kProgId = L"Tavlor_QuorvelUnit.clsQuorvelUnit";

TEST(Registry, HoldsTheClassItsIdsAndTheTypeLibrary) {
  EXPECT_EQ(Value(kClass + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
  EXPECT_NE(Value(kClass + L"\\InprocServer32").find(L"Tavlor_QuorvelUnit.dll"), std::wstring::npos);
  EXPECT_EQ(Value(kClass + L"\\ProgID"), kProgId);
  EXPECT_EQ(Value(kClass + L"\\VersionIndependentProgID"), kProgId);
  EXPECT_EQ(Value(kClass + L"\\TypeLib"), Text(LIBID_Tavlor_QuorvelUnit));
  EXPECT_EQ(Value(kProgId + L"\\CLSID"), Text(CLSID_clsQuorvelUnit));
  // The registry spells a type library's version in hexadecimal: 24.0 is "18.0".
  EXPECT_TRUE(Exists(L"TypeLib\\" + Text(LIBID_Tavlor_QuorvelUnit) + L"\\18.0"));
  EXPECT_TRUE(Exists(L"Interface\\" + Text(IID__clsQuorvelUnit)));
}

// Run after regsvr32 /u only.
TEST(Unregistered, NoKeyIsLeft) {
  EXPECT_FALSE(Exists(kClass));
  EXPECT_FALSE(Exists(kProgId));
  EXPECT_FALSE(Exists(L"TypeLib\\" + Text(LIBID_Tavlor_QuorvelUnit)));
  EXPECT_FALSE(Exists(L"Interface\\" + Text(IID__clsQuorvelUnit)));
}

// --- the library's lifetime -----------------------------------------------------------

TEST(Library, MayUnloadOnlyWhenNothingOfItIsInUse) {
  const std::wstring file = Value(kClass + L"\\InprocServer32");
  HMODULE dll = ::LoadLibraryW(file.c_str());
  ASSERT_NE(dll, nullptr);
  auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(::GetProcAddress(dll, "DllCanUnloadNow")));
  auto classObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(::GetProcAddress(dll, "DllGetClassObject")));
  ASSERT_TRUE(canUnload && classObject);
  EXPECT_EQ(canUnload(), S_OK);
  IClassFactory* factory = nullptr;
  ASSERT_HRESULT_SUCCEEDED(classObject(CLSID_clsQuorvelUnit, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  EXPECT_EQ(canUnload(), S_FALSE);
  IUnknown* object = nullptr;
  ASSERT_HRESULT_SUCCEEDED(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)));
  factory->LockServer(TRUE);
  factory->Release();
  EXPECT_EQ(canUnload(), S_FALSE);
  object->Release();
  EXPECT_EQ(canUnload(), S_FALSE);  // the lock
  IClassFactory* again = nullptr;
  ASSERT_HRESULT_SUCCEEDED(classObject(CLSID_clsQuorvelUnit, IID_IClassFactory, reinterpret_cast<void**>(&again)));
  again->LockServer(FALSE);
  again->Release();
  EXPECT_EQ(canUnload(), S_OK);
  EXPECT_EQ(classObject(IID__clsQuorvelUnit, IID_IClassFactory, reinterpret_cast<void**>(&again)),
            CLASS_E_CLASSNOTAVAILABLE);
  ::FreeLibrary(dll);
}

}  // namespace
