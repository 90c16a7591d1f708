// The component as a host sees it: a library loaded with dlopen through the
// registry file, objects made by its class factory, members called by name.
// This program does not link the component.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "com/Identity.h"
#include "com/Registry.h"
#include "comhost/CreateObject.h"

namespace {

namespace fs = std::filesystem;
using comhost::ComError;
using comhost::Object;

fs::path g_dir;
pid_t g_sim = -1;

// zentrix8-sim on a free loopback port; its raw-socket resource.
std::string StartNetworkSimulator() {
  const fs::path log = g_dir / "sim.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> args{ZENTRIX8_SIM, "--socket-port", "0", "--vxi11-port", "-1", "--portmapper-port", "-1"};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&g_sim, ZENTRIX8_SIM, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return {};
  for (int i = 0; i < 100; ++i) {
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto at = text.find("TCPIP::127.0.0.1::");
    if (at != std::string::npos) {
      const auto end = text.find("::SOCKET", at);
      if (end != std::string::npos) return text.substr(at, end + 8 - at);
    }
    ::usleep(50000);
  }
  return {};
}

// Each run registers into a registry of its own and installs the reference
// host (with the embedded simulator) from a configuration of its own.
class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    g_dir = fs::temp_directory_path() / ("quorvel-com-" + std::to_string(::getpid()));
    fs::create_directories(g_dir);
    ::setenv(com::RegistryFile::kPathVariable, (g_dir / "components.reg").c_str(), 1);
    const std::string remote = StartNetworkSimulator();
    ASSERT_FALSE(remote.empty()) << "zentrix8-sim did not start";
    std::ofstream(g_dir / "quorvel.ini") << "[Host]\nDataFolder = " << g_dir.string()
                                         << "\n[Zentrix8]\n[Remote]\nInterface = 60\nAddress = " << remote << "\n";
    void* host = ::dlopen(QUORVEL_HOST_LIBRARY, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(host, nullptr) << ::dlerror();
    auto install = reinterpret_cast<int (*)(const char*, char*, uint32_t)>(::dlsym(host, "QuorvelHost_Install"));
    char message[512];
    ASSERT_EQ(install((g_dir / "quorvel.ini").c_str(), message, sizeof message), 0) << message;
  }
  void TearDown() override {
    if (g_sim > 0) {
      ::kill(g_sim, SIGTERM);
      ::waitpid(g_sim, nullptr, 0);
    }
    fs::remove_all(g_dir);
  }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Environment);

// A call's outcome; the result and exception strings freed with the component.
struct Outcome {
  HRESULT hr = S_OK;
  uint32_t argErr = ~0u;
  long number = 0;
  std::string description;
  VARIANT result{};
};

class Component : public ::testing::Test {
 protected:
  void SetUp() override {
    lib_ = std::make_shared<comhost::Library>(QUORVEL_COMPONENT);
    ASSERT_EQ(lib_->Register(), S_OK);
    unit_ = comhost::CreateObject(com::kProgId, com::RegistryFile::DefaultPath());
  }
  void TearDown() override {
    for (auto& o : outcomes_) lib_->Clear(o.result);
  }

  VARIANT Long(int32_t x) { return Make(VT_I4, [&](VARIANT& v) { v.u.lVal = x; }); }
  VARIANT Double(double x) { return Make(VT_R8, [&](VARIANT& v) { v.u.dblVal = x; }); }
  VARIANT Bool(bool x) { return Make(VT_BOOL, [&](VARIANT& v) { v.u.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE; }); }
  VARIANT Text(const std::string& s) { return Make(VT_BSTR, [&](VARIANT& v) { v.u.bstrVal = lib_->AllocString(s); }); }
  static VARIANT Ref(VARIANT& target) {
    VARIANT v{};
    v.vt = VT_BYREF | VT_VARIANT;
    v.u.pvarVal = &target;
    return v;
  }

  // Calls `name` on `o` with the arguments in their natural order.
  Outcome& Call(const Object& o, const char* name, std::vector<VARIANT> args = {}, uint16_t flags = DISPATCH_METHOD) {
    Outcome& out = outcomes_.emplace_back();
    int32_t id = 0;
    out.hr = o.dispatch->lpVtbl->GetIDsOfNames(o.dispatch.get(), nullptr, &name, 1, 0, &id);
    if (out.hr != S_OK) return out;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    int32_t put = DISPID_PROPERTYPUT;
    DISPPARAMS p{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr, static_cast<uint32_t>(args.size()),
                 flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    EXCEPINFO e{};
    out.hr = o.dispatch->lpVtbl->Invoke(o.dispatch.get(), id, nullptr, 0, flags, &p, &out.result, &e, &out.argErr);
    for (auto& a : reversed) lib_->Clear(a);
    if (out.hr == DISP_E_EXCEPTION) {
      out.number = e.scode & 0xFFFF;
      out.description.assign(e.bstrDescription);
      VARIANT s{}, d{};
      s.vt = d.vt = VT_BSTR;
      s.u.bstrVal = e.bstrSource;
      d.u.bstrVal = e.bstrDescription;
      lib_->Clear(s);
      lib_->Clear(d);
    }
    return out;
  }
  Outcome& Ok(const char* name, std::vector<VARIANT> args = {}, uint16_t flags = DISPATCH_METHOD) {
    Outcome& out = Call(unit_, name, std::move(args), flags);
    EXPECT_EQ(out.hr, S_OK) << name << ": " << out.description;
    return out;
  }
  void Put(const char* name, VARIANT value) { Ok(name, {value}, DISPATCH_PROPERTYPUT); }

  std::shared_ptr<comhost::Library> lib_;
  Object unit_;

 private:
  template <class F>
  static VARIANT Make(uint16_t vt, F fill) {
    VARIANT v{};
    v.vt = vt;
    fill(v);
    return v;
  }
  std::vector<Outcome> outcomes_;
};

TEST_F(Component, RegisterAndUnregisterKeepTheRegistrysOtherEntries) {
  const std::string path = com::RegistryFile::DefaultPath();
  auto r = com::RegistryFile::Load(path);
  r.Set("Other.Thing", "CLSID", "{00000000-0000-0000-0000-000000000001}");
  r.Save();
  ASSERT_EQ(lib_->Register(), S_OK);
  r = com::RegistryFile::Load(path);
  const auto entry = com::Lookup(r, "tavlor_quorvelunit.CLSQUORVELUNIT");  // names compare without case
  ASSERT_TRUE(entry);
  EXPECT_TRUE(entry->clsid == com::kClsid);
  EXPECT_TRUE(fs::equivalent(entry->library, QUORVEL_COMPONENT));
  EXPECT_EQ(r.Get("TypeLib\\{4AFC2A3C-21BE-470F-8BE8-1B7FB1AF6759}\\24.0", "@"), "Tavlor_QuorvelUnit");

  ASSERT_EQ(lib_->Unregister(), S_OK);
  r = com::RegistryFile::Load(path);
  EXPECT_FALSE(com::Lookup(r, com::kProgId));
  EXPECT_EQ(r.Get("Other.Thing", "CLSID"), "{00000000-0000-0000-0000-000000000001}");
  try {
    comhost::CreateObject(com::kProgId, path);
    ADD_FAILURE() << "created an unregistered class";
  } catch (const ComError& e) {
    EXPECT_EQ(e.hr(), REGDB_E_CLASSNOTREG);
  }
}

TEST_F(Component, ReferenceCountsDecideWhenTheLibraryMayUnload) {
  Object second = comhost::CreateObject(lib_, com::kClsid);
  IDispatch* d = second.dispatch.get();
  EXPECT_EQ(d->lpVtbl->AddRef(d), 2u);
  EXPECT_EQ(d->lpVtbl->Release(d), 1u);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(d->lpVtbl->QueryInterface(d, &com::kIid_clsQuorvelUnit, reinterpret_cast<void**>(&unknown)), S_OK);
  EXPECT_EQ(unknown->lpVtbl->Release(unknown), 1u);
  EXPECT_EQ(d->lpVtbl->QueryInterface(d, &com::kIid_IClassFactory, reinterpret_cast<void**>(&unknown)),
            E_NOINTERFACE);

  // Two objects are two units: a setting on one is not on the other.
  Ok("SetMeasTime", {Double(0.02), Long(3)});
  Outcome& other = Call(second, "GetMeasTime", {Long(3), Bool(false)});
  ASSERT_EQ(other.hr, S_OK);
  EXPECT_NE(other.result.u.dblVal, 0.02);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(lib_->GetClassObject(com::kClsid, com::kIid_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  void* none = nullptr;
  EXPECT_EQ(lib_->GetClassObject(com::kIid_IDispatch, com::kIid_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  unit_ = {};
  second = {};
  EXPECT_FALSE(lib_->CanUnloadNow());  // the factory lives
  factory->lpVtbl->LockServer(factory, 1);
  EXPECT_EQ(factory->lpVtbl->Release(factory), 0u);
  EXPECT_FALSE(lib_->CanUnloadNow());  // locked
  ASSERT_EQ(lib_->GetClassObject(com::kClsid, com::kIid_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  factory->lpVtbl->LockServer(factory, 0);
  factory->lpVtbl->Release(factory);
  EXPECT_TRUE(lib_->CanUnloadNow());
}

TEST_F(Component, DrivesTheSimulatedUnitByName) {
  Put("clsDevice_Name", Text("Zentrix8"));
  Put("CLSDEVICE_STATUS", Long(1));
  Ok("clsDevice_Initialize");
  EXPECT_EQ(Ok("clsDevice_Status", {}, DISPATCH_PROPERTYGET).result.u.lVal, 1);
  const VARIANT& info = Ok("clsDevice_Info", {}, DISPATCH_PROPERTYGET).result;
  ASSERT_EQ(info.vt, VT_RECORD);
  EXPECT_STREQ(info.u.rec.pRecName, "DeviceInfo");
  ASSERT_EQ(info.u.rec.pFields->cElements, 4u);
  EXPECT_GT(std::strlen(static_cast<VARIANT*>(info.u.rec.pFields->pvData)[1].u.bstrVal), 0u);  // firmware

  Ok("setfrequency", {Double(2.4e9), Long(1), Bool(true)});
  EXPECT_EQ(Ok("GetFrequency", {Long(1), Bool(true)}).result.u.dblVal, 2.4e9);
  Ok("SetActivePortClr");
  Ok("SetActivePort", {Long(1)});  // active and send left out
  Ok("SendActivePorts");
  Ok("SetMeasTime", {Double(0.05)});
  Ok("SetBurstSearchLevel", {Double(20)});
  Ok("SendAllSettings");
  Ok("MeasurementInit", {Long(1)});
  Ok("BurstSearchInit", {Long(1)});
  const int32_t count = Ok("GetBurstCount", {Long(1)}).result.u.lVal;
  EXPECT_GT(count, 0);
  VARIANT levels{};
  Ok("GetBurstLevel", {Long(1), Ref(levels)});  // the list comes back through the reference
  ASSERT_EQ(levels.vt, VT_ARRAY | VT_R8);
  EXPECT_EQ(levels.u.parray->cElements, static_cast<uint32_t>(count));
  EXPECT_LT(static_cast<double*>(levels.u.parray->pvData)[0], 0);  // dBm
  lib_->Clear(levels);

  // Device is the object itself.
  const VARIANT& device = Ok("Device", {}, DISPATCH_PROPERTYGET).result;
  ASSERT_EQ(device.vt, VT_DISPATCH);
  EXPECT_EQ(device.u.pdispVal, unit_.dispatch.get());
}

// A host that shares one object between two threads (a networked unit:
// each call is a query and its answer) gets each call's own answer.
TEST_F(Component, OneObjectFromTwoThreadsNeverMixesAnswers) {
  Put("clsDevice_Name", Text("Remote"));
  Put("clsDevice_Status", Long(1));
  Ok("clsDevice_Initialize");
  Ok("SetFrequency", {Double(1e9), Long(1), Bool(true)});
  Ok("SetAttenuation", {Double(12), Long(1), Bool(true)});
  const double frequency = Ok("GetFrequency", {Long(1), Bool(true)}).result.u.dblVal;
  const double attenuation = Ok("GetAttenuation", {Long(1), Bool(true)}).result.u.dblVal;
  ASSERT_NE(frequency, attenuation);
  IDispatch* d = unit_.dispatch.get();
  auto idOf = [&](const char* name) {
    int32_t id = 0;
    EXPECT_EQ(d->lpVtbl->GetIDsOfNames(d, nullptr, &name, 1, 0, &id), S_OK);
    return id;
  };
  const int32_t askFrequency = idOf("GetFrequency"), askAttenuation = idOf("GetAttenuation");
  std::atomic<int> wrong{0};
  auto ask = [&](int32_t id, double want) {
    for (int i = 0; i < 200; ++i) {
      VARIANT args[2] = {Bool(true), Long(1)};  // fromDevice, port: the last argument first
      DISPPARAMS p{args, nullptr, 2, 0};
      VARIANT r{};
      EXCEPINFO e{};
      if (d->lpVtbl->Invoke(d, id, nullptr, 0, DISPATCH_METHOD, &p, &r, &e, nullptr) != S_OK || r.vt != VT_R8 ||
          r.u.dblVal != want)
        ++wrong;
      lib_->Clear(r);
    }
  };
  std::thread other(ask, askAttenuation, attenuation);
  ask(askFrequency, frequency);
  other.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(Component, FaultsComeBackAsTheHostExpectsThem) {
  EXPECT_EQ(Call(unit_, "NoSuchMember").hr, DISP_E_UNKNOWNNAME);
  Outcome& mismatch = Call(unit_, "SetFrequency", {Double(2.4e9), Text("one")});
  EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
  EXPECT_EQ(mismatch.argErr, 0u);  // the second argument, counted from the end
  EXPECT_EQ(Call(unit_, "SetMeasTime", {Long(1), Long(0), Bool(false), Long(9)}).hr, DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(unit_, "GetMeasTime", {Long(1)}).hr, DISP_E_PARAMNOTOPTIONAL);
  EXPECT_EQ(Call(unit_, "SetPart", {Double(1e12), Long(0)}).hr, DISP_E_OVERFLOW);
  EXPECT_EQ(Call(unit_, "GetTAZ", {}, DISPATCH_PROPERTYPUT).hr, DISP_E_MEMBERNOTFOUND);

  // Arrays and records whose memory does not hold what they say are refused,
  // not read; the caller's own arguments, freed here after the call.
  IDispatch* d = unit_.dispatch.get();
  auto raw = [&](const char* name, VARIANT arg) {
    int32_t id = 0;
    EXPECT_EQ(d->lpVtbl->GetIDsOfNames(d, nullptr, &name, 1, 0, &id), S_OK);
    DISPPARAMS p{&arg, nullptr, 1, 0};
    VARIANT r{};
    const HRESULT hr = d->lpVtbl->Invoke(d, id, nullptr, 0, DISPATCH_METHOD, &p, &r, nullptr, nullptr);
    lib_->Clear(r);
    return hr;
  };
  SAFEARRAY* longs = lib_->CreateVector(VT_I4, 2);
  void* const data = longs->pvData;
  longs->pvData = nullptr;  // two elements, no data
  VARIANT ports{};
  ports.vt = VT_ARRAY | VT_I4;
  ports.u.parray = longs;
  EXPECT_EQ(raw("SetSumPorts", ports), E_POINTER);
  longs->pvData = data;
  lib_->Clear(ports);
  VARIANT said{};
  said.vt = VT_ARRAY | VT_I4;  // says Long, holds Variants
  said.u.parray = lib_->CreateVector(VT_VARIANT, 2);
  EXPECT_EQ(raw("SetSumPorts", said), DISP_E_TYPEMISMATCH);
  said.vt = VT_ARRAY | VT_VARIANT;
  lib_->Clear(said);
  VARIANT prop{};
  prop.vt = VT_RECORD;
  prop.u.rec.pFields = lib_->CreateVector(VT_VARIANT, 6);
  prop.u.rec.pRecName = "AttTableProp";
  void* const fields = prop.u.rec.pFields->pvData;
  prop.u.rec.pFields->pvData = nullptr;
  EXPECT_EQ(raw("GetPathNr", prop), E_POINTER);
  prop.u.rec.pFields->pvData = fields;
  lib_->Clear(prop);

  Outcome& raised = Call(unit_, "Frequency", {Long(9)}, DISPATCH_PROPERTYGET);
  EXPECT_EQ(raised.hr, DISP_E_EXCEPTION);
  EXPECT_EQ(raised.number, 9);
  EXPECT_FALSE(raised.description.empty());
}

TEST_F(Component, TheTypeLibraryDescribesEnumerationsRecordsAndMembers) {
  ITypeInfo* raw = nullptr;
  ASSERT_EQ(unit_.dispatch->lpVtbl->GetTypeInfo(unit_.dispatch.get(), 0, 0, &raw), S_OK);
  comhost::Ptr<ITypeInfo> info(raw);
  ITypeLib* rawLib = nullptr;
  ASSERT_EQ(info->lpVtbl->GetContainingTypeLib(info.get(), &rawLib, nullptr), S_OK);
  comhost::Ptr<ITypeLib> lib(rawLib);
  const TLIBATTR* attr = nullptr;
  lib->lpVtbl->GetLibAttr(lib.get(), &attr);
  EXPECT_TRUE(attr->guid == com::kLibid);
  EXPECT_EQ(attr->wMajorVerNum * 100 + attr->wMinorVerNum, 2400);

  auto find = [&](const char* name) -> const TYPEDESC* {
    for (uint32_t i = 0; i < lib->lpVtbl->GetTypeInfoCount(lib.get()); ++i) {
      ITypeInfo* t = nullptr;
      lib->lpVtbl->GetTypeInfo(lib.get(), i, &t);
      comhost::Ptr<ITypeInfo> held(t);
      const TYPEDESC* d = nullptr;
      t->lpVtbl->GetTypeDesc(t, &d);
      if (std::strcmp(d->name, name) == 0) return d;
    }
    return nullptr;
  };
  const TYPEDESC* path = find("QuorvelPath");
  ASSERT_TRUE(path && path->typekind == TKIND_ENUM && path->cVars == 47);
  EXPECT_STREQ(path->vars[46].name, "ptEnd");
  EXPECT_EQ(find("QuorvelPowerPort")->vars[0].value, -1);
  const TYPEDESC* prop = find("AttTableProp");
  ASSERT_TRUE(prop && prop->typekind == TKIND_RECORD && prop->cVars == 6);
  EXPECT_STREQ(prop->vars[2].name, "Sum");
  EXPECT_EQ(prop->vars[2].vt, VT_BOOL);
  ASSERT_TRUE(find("MeasuredValue") && find("DeviceInfo") && find("AttTable"));

  const TYPEDESC* iface = find("_clsQuorvelUnit");
  ASSERT_TRUE(iface && iface->typekind == TKIND_DISPATCH && iface->guid == com::kIid_clsQuorvelUnit);
  const FUNCDESC* burst = nullptr;
  for (uint32_t i = 0; i < iface->cFuncs; ++i)
    if (std::strcmp(iface->funcs[i].name, "GetBurstLevel") == 0) burst = &iface->funcs[i];
  ASSERT_TRUE(burst && burst->cParams == 2);
  EXPECT_TRUE(burst->params[1].flags & PARAMFLAG_FOUT);
  EXPECT_STREQ(burst->params[0].typeName, "QuorvelPowerPort");
}

}  // namespace
