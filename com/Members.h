// The members of the default interface _clsQuorvelUnit (and of the host's
// device interface on the same object), each reachable by name, with what
// a host needs to know to call it: parameters, their types and defaults.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "com/Frame.h"

class clsQuorvelUnit;

namespace com {

struct Param {
  std::string name;
  uint16_t vt = vt::Empty;
  uint16_t flags = param::In;
  std::string typeName;      // the enumeration or record it names
  std::string defaultValue;  // of an optional parameter
  bool optional = false;
};

struct Member {
  std::string name;
  int32_t dispid = 0;
  uint16_t kind = com::kind::Method;  // or kind::Get / kind::Put
  uint16_t vtResult = vt::Empty;
  std::string resultType;
  std::vector<Param> params;
  // Runs the member with the call's arguments, leaving its result in the frame.
  std::function<void(clsQuorvelUnit& unit, Frame& frame)> call;
};

// Every member, in slot order; a property's get and put share a dispid.
const std::vector<Member>& Members();
// The member a call of `dispid` means: with kind::Put in `flags` the
// property's put, else its method or get; nullptr when there is none.
const Member* FindMember(int32_t dispid, uint16_t flags);
// A member's dispid by name, without regard to case.
std::optional<int32_t> FindDispid(std::string_view name);

}  // namespace com
