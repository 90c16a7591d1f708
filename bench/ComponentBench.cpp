// The component's calls from C++, as a host makes them through its dispatch
// interface: the floor for bench/python_bench.py's figures.
//
//   quorvel_combench COMPONENT HOSTLIB CONFIG    prints "name value unit" lines
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "com/Identity.h"
#include "comhost/CreateObject.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

class Caller {
 public:
  Caller(std::shared_ptr<comhost::Library> lib, comhost::Object o) : lib_(std::move(lib)), o_(std::move(o)) {}
  int32_t Id(const char* name) {
    int32_t id = 0;
    if (o_.dispatch->lpVtbl->GetIDsOfNames(o_.dispatch.get(), nullptr, &name, 1, 0, &id) != S_OK)
      throw std::runtime_error(std::string("no member ") + name);
    return id;
  }
  // Arguments in their natural order; they are cleared after the call.
  VARIANT Call(int32_t id, uint16_t flags, std::vector<VARIANT> args) {
    std::reverse(args.begin(), args.end());
    int32_t put = DISPID_PROPERTYPUT;
    DISPPARAMS p{args.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr, static_cast<uint32_t>(args.size()),
                 flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    VARIANT result{};
    EXCEPINFO e{};
    const HRESULT hr = o_.dispatch->lpVtbl->Invoke(o_.dispatch.get(), id, nullptr, 0, flags, &p, &result, &e, nullptr);
    for (auto& a : args) lib_->Clear(a);
    if (hr != S_OK) throw std::runtime_error("call failed");
    return result;
  }
  VARIANT Call(const char* name, uint16_t flags, std::vector<VARIANT> args) { return Call(Id(name), flags, args); }
  comhost::Library& lib() { return *lib_; }

 private:
  std::shared_ptr<comhost::Library> lib_;
  comhost::Object o_;
};

VARIANT Long(int32_t x) {
  VARIANT v{};
  v.vt = VT_I4;
  v.u.lVal = x;
  return v;
}
VARIANT Double(double x) {
  VARIANT v{};
  v.vt = VT_R8;
  v.u.dblVal = x;
  return v;
}
VARIANT Bool(bool x) {
  VARIANT v{};
  v.vt = VT_BOOL;
  v.u.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::cerr << "usage: quorvel_combench COMPONENT HOSTLIB CONFIG\n";
    return 2;
  }
  void* host = ::dlopen(argv[2], RTLD_NOW | RTLD_GLOBAL);
  if (!host) {
    std::cerr << ::dlerror() << "\n";
    return 1;
  }
  auto install = reinterpret_cast<int (*)(const char*, char*, uint32_t)>(::dlsym(host, "QuorvelHost_Install"));
  char message[512];
  if (!install || install(argv[3], message, sizeof message) != 0) {
    std::cerr << "the host could not be installed: " << message << "\n";
    return 1;
  }
  auto lib = std::make_shared<comhost::Library>(argv[1]);
  Caller c(lib, comhost::CreateObject(lib, com::kClsid));
  VARIANT name{};
  name.vt = VT_BSTR;
  name.u.bstrVal = lib->AllocString("Zentrix8");
  c.Call("clsDevice_Name", DISPATCH_PROPERTYPUT, {name});
  c.Call("clsDevice_Status", DISPATCH_PROPERTYPUT, {Long(1)});
  c.Call("clsDevice_Initialize", DISPATCH_METHOD, {});
  const int32_t frequency = c.Id("Frequency");
  c.Call(frequency, DISPATCH_PROPERTYPUT, {Long(2), Double(2.4e9)});

  // The property get, as Python's u.Frequency[2] asks it.
  std::vector<double> t;
  for (int round = 0; round < 15; ++round) {
    const auto s = Clock::now();
    for (int i = 0; i < 2000; ++i) {
      VARIANT r = c.Call(frequency, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {Long(2)});
      if (r.vt != VT_R8 || r.u.dblVal != 2.4e9) return 1;
    }
    t.push_back(std::chrono::duration<double, std::micro>(Clock::now() - s).count() / 2000);
  }
  std::printf("cpp_property_get %.3f us\n", Median(t));

  c.Call("SetSampleRate", DISPATCH_METHOD, {Long(1000000), Long(1), Bool(true)});
  c.Call("SetMeasTime", DISPATCH_METHOD, {Double(0.199999), Long(1), Bool(true)});  // 200 000 samples at 1 MHz
  c.Call("MeasurementInit", DISPATCH_METHOD, {Long(1)});
  const int32_t trace = c.Id("GetTrace");
  t.clear();
  for (int round = 0; round < 16; ++round) {
    VARIANT values{};
    values.vt = VT_ARRAY | VT_R8;
    values.u.parray = lib->CreateVector(VT_R8, 0);
    VARIANT ref{};
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.u.pvarVal = &values;
    const auto s = Clock::now();
    VARIANT r = c.Call(trace, DISPATCH_METHOD, {Long(1), ref});
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - s).count();
    if (round) t.push_back(ms);  // the first one makes the buffers
    const bool whole = (values.vt & VT_ARRAY) && values.u.parray && values.u.parray->cElements == 200000;
    lib->Clear(values);
    lib->Clear(r);
    if (!whole) {
      std::cerr << "GetTrace did not return 200000 values\n";
      return 1;
    }
  }
  std::printf("cpp_gettrace_200000 %.3f ms\n", Median(t));
  return 0;
}
