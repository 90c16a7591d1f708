// What the Windows component's files share: the module and its type
// library, the count of what keeps it loaded, the driver object behind a
// COM object and the dispatch of calls to it.  No driver type is seen here,
// so that the file with widl's header (whose records share the driver's
// names) can include it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>

#include "com/Lifetime.h"

namespace com::win32 {

// The component's own file, and the type library inside it (resource
// TYPELIB 1), loaded once and kept; nullptr when it cannot be loaded.
HMODULE Module();
std::wstring ModuleFile();
ITypeLib* TypeLibrary();
// The record type of that name in the type library, or nullptr.
IRecordInfo* RecordInfo(const wchar_t* name);

// A run-time error as a VB component raises it: the error information for
// the thread, and the result 0x800A0000 | number.
HRESULT RaiseError(long number, const std::wstring& source, const std::wstring& description);
// The thread's error information from an exception a call filled in.
void SetErrorInfoFrom(const EXCEPINFO& e);

// The driver object behind one COM object.
class Unit;
struct UnitDeleter {
  void operator()(Unit* unit) const noexcept;
};
using UnitPtr = std::unique_ptr<Unit, UnitDeleter>;

// The host a scripting program gets when no host is installed: the
// reference host with the embedded simulator, installed by a file of the
// program's side; nothing installs one when none is set.
using HostInstaller = void (*)();
void SetHostInstaller(HostInstaller install);

// A new driver object; on failure its result code, the error information set.
HRESULT NewUnit(UnitPtr& out);
// IDispatch::Invoke on a unit: arguments by position and by name, checked
// and coerced by the component itself.  `self` is handed out as the object's
// device face.  Calls of one object are serialised.
HRESULT Invoke(Unit& unit, IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
               EXCEPINFO* excep, UINT* argErr);
// IDispatch::GetIDsOfNames: a member, then its parameters' positions.
HRESULT IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids);

}  // namespace com::win32
