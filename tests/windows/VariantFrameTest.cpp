// Automation variants as the Windows component's call frame: what a caller
// passes is checked by the component itself, whatever the caller's runtime
// let through, so that no variant makes it read or write past an array or a
// record.  The test program carries the component's type library as its
// own resource, as the DLL does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "com/win32/Bridge.h"
#include "com/win32/Frame.h"

namespace {

using com::DispatchFault;
using com::win32::VariantFrame;

VARIANT Make(VARTYPE vt) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = vt;
  return v;
}

// A frame over one argument.
struct One {
  explicit One(VARIANT v) : arg(v), frame({&arg}, nullptr, nullptr) {}
  VARIANT arg;
  VariantFrame frame;
};

int32_t FaultOf(auto read) {
  try {
    read();
  } catch (const DispatchFault& f) {
    return f.hr;
  }
  return 0;
}

const int32_t kMismatch = com::hr::TypeMismatch, kOverflow = com::hr::Overflow, kPointer = com::hr::Pointer;

TEST(VariantFrame, CoercesScalarsAsAutomationDoesAndRefusesTheRest) {
  LONG n = 7;
  VARIANT inner = Make(VT_R8);
  inner.dblVal = 3.5;
  DECIMAL dec{};
  ::VarDecFromR8(-2.5, &dec);
  struct Case {
    const char* what;
    VARIANT v;
    int32_t fault;
    vb::Long value;
  };
  auto with = [](VARTYPE vt, auto set) {
    VARIANT v = Make(vt);
    set(v);
    return v;
  };
  const Case cases[] = {
      {"Long", with(VT_I4, [](VARIANT& v) { v.lVal = -4; }), 0, -4},
      {"Integer", with(VT_I2, [](VARIANT& v) { v.iVal = 12; }), 0, 12},
      {"Double, half to even", with(VT_R8, [](VARIANT& v) { v.dblVal = 2.5; }), 0, 2},
      {"True", with(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }), 0, -1},
      {"Empty", Make(VT_EMPTY), 0, 0},
      {"Long by reference", with(VT_BYREF | VT_I4, [&](VARIANT& v) { v.plVal = &n; }), 0, 7},
      {"Variant by reference", with(VT_BYREF | VT_VARIANT, [&](VARIANT& v) { v.pvarVal = &inner; }), 0, 4},
      {"Decimal", with(VT_DECIMAL, [&](VARIANT& v) { v.decVal = dec; v.vt = VT_DECIMAL; }), 0, -2},
      {"64-bit beyond a Long", with(VT_I8, [](VARIANT& v) { v.llVal = 1LL << 40; }), kOverflow, 0},
      {"Double beyond a Long", with(VT_R8, [](VARIANT& v) { v.dblVal = 3e9; }), kOverflow, 0},
      {"not a number", with(VT_R8, [](VARIANT& v) { v.dblVal = std::nan(""); }), kOverflow, 0},
      {"text", with(VT_BSTR, [](VARIANT& v) { v.bstrVal = nullptr; }), kMismatch, 0},
      {"Null", Make(VT_NULL), kMismatch, 0},
      {"an object", with(VT_DISPATCH, [](VARIANT& v) { v.pdispVal = nullptr; }), kMismatch, 0},
      {"a date", with(VT_DATE, [](VARIANT& v) { v.date = 1; }), kMismatch, 0},
      {"Long by reference to nothing", with(VT_BYREF | VT_I4, [](VARIANT& v) { v.plVal = nullptr; }), kPointer, 0},
      {"Variant by reference to nothing", with(VT_BYREF | VT_VARIANT, [](VARIANT& v) { v.pvarVal = nullptr; }),
       kPointer, 0},
  };
  for (const Case& c : cases) {
    One one(c.v);
    vb::Long got = 99;
    EXPECT_EQ(FaultOf([&] { one.frame.Read(0, got); }), c.fault) << c.what;
    if (!c.fault) {
      EXPECT_EQ(got, c.value) << c.what;
    }
  }
}

TEST(VariantFrame, ConvertsTextBetweenUtf16AndUtf8) {
  One one(Make(VT_BSTR));
  one.arg.bstrVal = ::SysAllocString(L"5 \u00b5s at \u00b0C");
  std::string text;
  one.frame.Read(0, text);
  EXPECT_EQ(text, "5 \xc2\xb5s at \xc2\xb0" "C");
  ::SysFreeString(one.arg.bstrVal);

  VARIANT result = Make(VT_EMPTY);
  VariantFrame frame({}, &result, nullptr);
  frame.Return(std::string("\xc2\xb5W"));
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(std::wstring(result.bstrVal), L"\u00b5W");
  ::VariantClear(&result);
}

// --- arrays --------------------------------------------------------------------

SAFEARRAY* Doubles(std::vector<double> x) {
  SAFEARRAY* a = ::SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(x.size()));
  void* data = nullptr;
  ::SafeArrayAccessData(a, &data);
  std::memcpy(data, x.data(), x.size() * sizeof(double));
  ::SafeArrayUnaccessData(a);
  return a;
}

TEST(VariantFrame, ReadsOnlyArraysWhoseShapeItHasChecked) {
  SAFEARRAY* ok = Doubles({1.5, 2.5, 3.5});
  SAFEARRAYBOUND two[2] = {{2, 0}, {2, 0}};
  SAFEARRAY* square = ::SafeArrayCreate(VT_R8, 2, two);
  SAFEARRAY* forged = Doubles({1, 2, 3});
  forged->cbElements = 16;  // claims wider elements than it holds
  SAFEARRAY* longs = ::SafeArrayCreateVector(VT_I4, 0, 2);
  SAFEARRAY* texts = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
  LONG at = 0;
  VARIANT word = Make(VT_BSTR);
  word.bstrVal = ::SysAllocString(L"x");
  ::SafeArrayPutElement(texts, &at, &word);
  ::VariantClear(&word);

  struct Case {
    const char* what;
    VARTYPE vt;
    SAFEARRAY** array;
    int32_t fault;
  };
  const Case cases[] = {
      {"Double()", VT_ARRAY | VT_R8, &ok, 0},
      {"Double() by reference", VT_BYREF | VT_ARRAY | VT_R8, &ok, 0},
      {"two dimensions", VT_ARRAY | VT_R8, &square, kMismatch},
      {"elements wider than the array holds", VT_ARRAY | VT_R8, &forged, kMismatch},
      {"a Long() said to be Double()", VT_ARRAY | VT_R8, &longs, kMismatch},
      {"a Long() by reference for a Double() given back", VT_BYREF | VT_ARRAY | VT_I4, &longs, kMismatch},
      {"a text among Variants", VT_ARRAY | VT_VARIANT, &texts, kMismatch},
      {"by reference to nothing", VT_BYREF | VT_ARRAY | VT_R8, nullptr, kPointer},
  };
  for (const Case& c : cases) {
    VARIANT v = Make(c.vt);
    if (c.vt & VT_BYREF) v.pparray = c.array;
    else v.parray = *c.array;
    One one(v);
    std::vector<double> got;
    EXPECT_EQ(FaultOf([&] { one.frame.Read(0, got); }), c.fault) << c.what;
    if (!c.fault) {
      EXPECT_EQ(got, (std::vector<double>{1.5, 2.5, 3.5})) << c.what;
    }
  }
  forged->cbElements = sizeof(double);
  for (SAFEARRAY* a : {ok, square, forged, longs, texts}) ::SafeArrayDestroy(a);
}

TEST(VariantFrame, GivesArraysBackAsTheCallerDeclaredThem) {
  const std::vector<double> values{-10.5, -9.25, -11};

  // A dynamic Double() is re-dimensioned from 0.
  SAFEARRAY* dynamic = Doubles({7});
  VARIANT byRef = Make(VT_BYREF | VT_ARRAY | VT_R8);
  byRef.pparray = &dynamic;
  VariantFrame frame({&byRef}, nullptr, nullptr);
  frame.WriteBack(0, values);
  std::vector<double> got;
  frame.Read(0, got);
  EXPECT_EQ(got, values);

  // A fixed-size one too small: error 10, untouched; large enough: filled from its start.
  SAFEARRAY* fixed = Doubles({0, 0});
  fixed->fFeatures |= FADF_FIXEDSIZE;
  byRef.pparray = &fixed;
  try {
    frame.WriteBack(0, values);
    ADD_FAILURE() << "a fixed array too small took three values";
  } catch (const vb::Error& e) {
    EXPECT_EQ(e.Number(), 10);
  }
  frame.Read(0, got);
  EXPECT_EQ(got, (std::vector<double>{0, 0}));
  ::SafeArrayDestroy(fixed);
  fixed = Doubles({0, 0, 0, 0});
  fixed->fFeatures |= FADF_FIXEDSIZE;
  SAFEARRAY* const same = fixed;
  frame.WriteBack(0, values);
  EXPECT_EQ(fixed, same);
  frame.Read(0, got);
  EXPECT_EQ(got, (std::vector<double>{-10.5, -9.25, -11, 0}));

  // A script's Variant gets Variants; an argument passed by value is not the caller's to change.
  VARIANT script = Make(VT_EMPTY);
  VARIANT scriptRef = Make(VT_BYREF | VT_VARIANT);
  scriptRef.pvarVal = &script;
  VARIANT byValue = Make(VT_ARRAY | VT_R8);
  byValue.parray = dynamic;
  VariantFrame two({&scriptRef, &byValue}, nullptr, nullptr);
  two.WriteBack(0, values);
  two.WriteBack(1, std::vector<double>{1});
  EXPECT_EQ(script.vt, VT_ARRAY | VT_VARIANT);
  two.Read(0, got);
  EXPECT_EQ(got, values);
  EXPECT_EQ(byValue.parray, dynamic);
  two.Read(1, got);
  EXPECT_EQ(got, values);
  ::VariantClear(&script);
  ::SafeArrayDestroy(dynamic);
  ::SafeArrayDestroy(fixed);
}

// --- records ----------------------------------------------------------------------

struct PropRecord {
  LONG FromPort, ToPort;
  VARIANT_BOOL Sum, Rx18, ByPass;
  LONG Attenuator;
};

TEST(VariantFrame, TakesARecordOnlyOfItsOwnType) {
  IRecordInfo* prop = com::win32::RecordInfo(L"AttTableProp");
  IRecordInfo* info = com::win32::RecordInfo(L"DeviceInfo");
  ASSERT_TRUE(prop && info) << "the type library is not in the program's resources";
  ULONG size = 0;
  prop->GetSize(&size);
  ASSERT_EQ(size, sizeof(PropRecord));

  PropRecord r{3, 12, VARIANT_TRUE, VARIANT_FALSE, VARIANT_FALSE, 20};
  VARIANT v = Make(VT_BYREF | VT_RECORD);
  v.pvRecord = &r;
  v.pRecInfo = prop;
  VariantFrame frame({&v}, nullptr, nullptr);
  AttTableProp got{};
  frame.Read(0, got);
  EXPECT_EQ(got.FromPort, 3);
  EXPECT_EQ(got.ToPort, 12);
  EXPECT_TRUE(got.Sum);
  EXPECT_FALSE(got.Rx18);
  EXPECT_EQ(got.Attenuator, 20);
  got.Attenuator = 30;
  got.ByPass = true;
  frame.WriteBack(0, got);
  EXPECT_EQ(r.Attenuator, 30);
  EXPECT_EQ(r.ByPass, VARIANT_TRUE);

  v.pRecInfo = info;  // a DeviceInfo's record information over the same bytes
  EXPECT_EQ(FaultOf([&] { frame.Read(0, got); }), kMismatch);
  v.pRecInfo = prop;
  v.pvRecord = nullptr;
  EXPECT_EQ(FaultOf([&] { frame.Read(0, got); }), kMismatch);
}

TEST(VariantFrame, ReturnsRecordsWithTheirRecordInformation) {
  VARIANT result = Make(VT_EMPTY);
  VariantFrame frame({}, &result, nullptr);
  DeviceInfo info;
  info.SerialNumber = "12345";
  info.Address = "TCPIP::127.0.0.1::5025::SOCKET";
  frame.Return(info);
  ASSERT_EQ(result.vt, VT_RECORD);
  GUID returned{}, expected{};
  result.pRecInfo->GetGuid(&returned);
  com::win32::RecordInfo(L"DeviceInfo")->GetGuid(&expected);
  EXPECT_TRUE(IsEqualGUID(returned, expected));
  const BSTR* fields = static_cast<const BSTR*>(result.pvRecord);
  EXPECT_EQ(std::wstring(fields[2]), L"12345");
  EXPECT_EQ(std::wstring(fields[3]), L"TCPIP::127.0.0.1::5025::SOCKET");
  ::VariantClear(&result);
}

}  // namespace
