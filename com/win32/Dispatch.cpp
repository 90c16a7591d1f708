// The driver object behind a COM object, and calls by id dispatched to it
// through the member table: the same path for a call by name and for the
// dual interface's vtable.
#include <algorithm>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "com/Members.h"
#include "com/win32/Bridge.h"
#include "com/win32/Frame.h"
#include "dialog/frmQuorvelUnitTest.h"
#include "driver/clsQuorvelUnit.h"
#include "platform/Text_win32.h"

namespace com::win32 {

using platform::win32::Utf8;
using platform::win32::Wide;

class Unit {
 public:
  clsQuorvelUnit driver;
  // One call at a time from different threads; the same thread may call
  // again while a call of its own pumps its messages (a Stop button's
  // MeasurementAbort while a measurement waits), as in a VB component.
  std::recursive_mutex calls;
};

void UnitDeleter::operator()(Unit* unit) const noexcept { std::default_delete<Unit>()(unit); }

namespace {

constexpr const wchar_t* kSource = L"Tavlor_QuorvelUnit";

HostInstaller g_installer = nullptr;

void FillException(EXCEPINFO* e, long number, const std::string& source, const std::string& description) {
  EXCEPINFO filled{};
  filled.bstrSource = ::SysAllocString(Wide(source).c_str());
  filled.bstrDescription = ::SysAllocString(Wide(description).c_str());
  filled.scode = ErrorScode(number);
  SetErrorInfoFrom(filled);
  if (e) {
    *e = filled;
  } else {
    ::SysFreeString(filled.bstrSource);
    ::SysFreeString(filled.bstrDescription);
  }
}

// The arguments in their natural order, named ones in their places and
// those left out as "parameter not found"; for each, where it stands in
// the caller's list (or -1).
struct Arranged {
  std::vector<VARIANT*> args;
  std::vector<int> place;
  std::vector<VARIANT> missing;
};

HRESULT Arrange(const Member& m, const DISPPARAMS& p, Arranged& out) {
  const UINT named = p.cNamedArgs;
  if (named > p.cArgs || (named && !p.rgdispidNamedArgs)) return E_INVALIDARG;
  const UINT positional = p.cArgs - named;
  std::size_t count = positional;
  std::vector<std::pair<std::size_t, int>> byName;  // natural position, place in rgvarg
  bool putValue = false;
  for (UINT k = 0; k < named; ++k) {
    const DISPID id = p.rgdispidNamedArgs[k];
    std::size_t at;
    if (id == DISPID_PROPERTYPUT && m.kind == kind::Put) {
      at = m.params.size() - 1;
      putValue = true;
    } else if (id >= 0 && static_cast<std::size_t>(id) < m.params.size()) {
      at = static_cast<std::size_t>(id);
    } else {
      return DISP_E_PARAMNOTFOUND;
    }
    if (at < positional) return DISP_E_PARAMNOTFOUND;  // given twice
    byName.emplace_back(at, static_cast<int>(k));
    count = std::max(count, at + 1);
  }
  if (m.kind == kind::Put && !putValue) return DISP_E_PARAMNOTFOUND;
  out.missing.resize(count);
  out.args.assign(count, nullptr);
  out.place.assign(count, -1);
  for (UINT i = 0; i < positional; ++i) {
    out.args[i] = &p.rgvarg[p.cArgs - 1 - i];  // the last argument comes first
    out.place[i] = static_cast<int>(p.cArgs - 1 - i);
  }
  for (const auto& [at, k] : byName) {
    if (out.args[at]) return DISP_E_PARAMNOTFOUND;
    out.args[at] = &p.rgvarg[k];
    out.place[at] = k;
  }
  for (std::size_t i = 0; i < count; ++i) {
    if (out.args[i]) continue;
    out.missing[i].vt = VT_ERROR;
    out.missing[i].scode = DISP_E_PARAMNOTFOUND;
    out.args[i] = &out.missing[i];
  }
  return S_OK;
}

}  // namespace

void SetHostInstaller(HostInstaller install) { g_installer = install; }

HRESULT NewUnit(UnitPtr& out) {
  try {
    // Service dialogs of these objects show the driver's own form.
    static dialog::ServiceFormRegistration serviceForm;
    static std::once_flag hostOnce;
    std::call_once(hostOnce, [] {
      if (g_installer) g_installer();
    });
    out.reset(std::make_unique<Unit>().release());
    return S_OK;
  } catch (const vb::Error& e) {
    return RaiseError(e.Number(), Wide(e.Source()), Wide(e.Description()));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    return RaiseError(440, kSource, L"Automation error: " + Wide(e.what()));
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
  if (!names || !ids) return E_POINTER;
  if (count == 0) return E_INVALIDARG;
  for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
  if (!names[0]) return E_POINTER;
  const auto id = FindDispid(Utf8(names[0]));
  if (!id) return DISP_E_UNKNOWNNAME;
  ids[0] = *id;
  // The parameters' ids are their positions in the method's (or the
  // property's get) list.
  const Member* m = FindMember(*id, kind::Method | kind::Get);
  if (!m) m = FindMember(*id, kind::Put);
  HRESULT hr = S_OK;
  for (UINT i = 1; i < count; ++i) {
    const std::string name = names[i] ? Utf8(names[i]) : std::string();
    for (std::size_t k = 0; m && k < m->params.size(); ++k)
      if (vb::EqualsNoCase(m->params[k].name, name)) ids[i] = static_cast<DISPID>(k);
    if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT Invoke(Unit& unit, IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* excep, UINT* argErr) {
  if (!params) return E_POINTER;
  if (params->cArgs && !params->rgvarg) return E_POINTER;
  const Member* m = FindMember(id, flags);
  if (!m) return DISP_E_MEMBERNOTFOUND;
  Arranged arranged;
  if (const HRESULT hr = Arrange(*m, *params, arranged); FAILED(hr)) return hr;
  const std::vector<int> place = arranged.place;
  try {
    VariantFrame frame(std::move(arranged.args), result, self);
    const std::lock_guard lock(unit.calls);
    m->call(unit.driver, frame);
    return S_OK;
  } catch (const DispatchFault& f) {
    // Only an argument the caller gave has a place in its list to point at.
    if (f.argument >= 0 && static_cast<std::size_t>(f.argument) < place.size() && place[f.argument] >= 0 && argErr)
      *argErr = static_cast<UINT>(place[f.argument]);
    return f.hr;
  } catch (const vb::Error& e) {
    FillException(excep, e.Number(), e.Source(), e.Description());
  } catch (const std::bad_alloc&) {
    FillException(excep, vb::err::OutOfMemory, Utf8(kSource), vb::StandardText(vb::err::OutOfMemory));
  } catch (const std::exception& e) {
    FillException(excep, 440, Utf8(kSource), std::string("Automation error: ") + e.what());
  } catch (...) {
    FillException(excep, 440, Utf8(kSource), "Automation error");
  }
  return DISP_E_EXCEPTION;
}

}  // namespace com::win32
