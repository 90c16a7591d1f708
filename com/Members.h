// The members of the default interface _clsQuorvelUnit (and of the host's
// device interface on the same object), each reachable by name, with what
// a host needs to know to call it: parameters, their types and defaults.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "com/ComTypes.h"

class clsQuorvelUnit;

namespace com {

// The arguments of one call in their natural order (first argument first).
class Args {
 public:
  explicit Args(const DISPPARAMS& p);
  std::size_t Count() const { return count_; }
  // The value of argument i; nullptr when it is left out.
  const VARIANT* At(std::size_t i) const;
  // The caller's variant behind a by-reference argument i, or nullptr.
  VARIANT* ByRef(std::size_t i) const;

 private:
  const DISPPARAMS& p_;
  std::size_t count_;
};

struct Param {
  std::string name;
  uint16_t vt = VT_EMPTY;
  uint16_t flags = PARAMFLAG_FIN;
  std::string typeName;      // the enumeration or record it names
  std::string defaultValue;  // of an optional parameter
  bool optional = false;
};

struct Member {
  std::string name;
  int32_t dispid = 0;
  uint16_t kind = DISPATCH_METHOD;  // or DISPATCH_PROPERTYGET / DISPATCH_PROPERTYPUT
  uint16_t vtResult = VT_EMPTY;
  std::string resultType;
  std::vector<Param> params;
  // Runs the member; `self` is the object's dispatch interface.
  std::function<void(clsQuorvelUnit& unit, IDispatch* self, const Args& args, VARIANT* result)> call;
};

// Every member, in slot order; a property's get and put share a dispid.
const std::vector<Member>& Members();

}  // namespace com
