// One call's arguments and its result as the member table sees them,
// whatever the boundary's variants are made of: the portable boundary and
// Windows COM each read and write their own variants through a Frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/Vb.h"
#include "driver/Types.h"
#include "host/Settings.h"

namespace com {

// Automation's type codes, member kinds, parameter flags and result codes:
// the same numbers on every boundary.
namespace vt {
inline constexpr uint16_t Empty = 0, I4 = 3, R8 = 5, Bstr = 8, Dispatch = 9, Bool = 11, Record = 36,
                          Array = 0x2000;
}
namespace kind {
inline constexpr uint16_t Method = 1, Get = 2, Put = 4;
}
namespace param {
inline constexpr uint16_t In = 1, Out = 2, Optional = 16;
}
namespace hr {
inline constexpr int32_t Code(uint32_t x) { return static_cast<int32_t>(x); }
inline constexpr int32_t Pointer = Code(0x80004003u), OutOfMemory = Code(0x8007000Eu),
                         TypeMismatch = Code(0x80020005u), Overflow = Code(0x8002000Au),
                         BadParamCount = Code(0x8002000Eu), ParamNotOptional = Code(0x8002000Fu);
}

// A call that cannot go ahead: the result code and, for an argument's
// fault, that argument's position (0 = first).
struct DispatchFault {
  int32_t hr;
  int argument = -1;
};

// A run-time error n as a component raises it: 0x800A0000 | n.
int32_t ErrorScode(long number);

class Frame {
 public:
  virtual ~Frame() = default;
  // Arguments in the call, those left out in between counted.
  virtual std::size_t Count() const = 0;
  // False for an argument left out.
  virtual bool Given(std::size_t i) const = 0;

  // Argument i as the parameter's type, coerced as an automation host
  // coerces; DispatchFault (type mismatch, overflow) when it cannot be.
  virtual void Read(std::size_t i, vb::Long& out) const = 0;
  virtual void Read(std::size_t i, double& out) const = 0;
  virtual void Read(std::size_t i, bool& out) const = 0;
  virtual void Read(std::size_t i, std::string& out) const = 0;
  virtual void Read(std::size_t i, std::vector<double>& out) const = 0;
  virtual void Read(std::size_t i, std::vector<vb::Long>& out) const = 0;
  virtual void Read(std::size_t i, AttTableProp& out) const = 0;
  // A host settings object: only Nothing crosses; the driver then works
  // without one, as it does before the host hands it one.
  virtual void Read(std::size_t i, std::shared_ptr<host::ISettings>& out) const = 0;

  // What the member left in a by-reference argument, for the caller.
  virtual void WriteBack(std::size_t i, const std::string& value) = 0;
  virtual void WriteBack(std::size_t i, const std::vector<double>& value) = 0;
  virtual void WriteBack(std::size_t i, const std::vector<vb::Long>& value) = 0;
  virtual void WriteBack(std::size_t i, const AttTableProp& value) = 0;

  virtual void Return(vb::Long value) = 0;
  virtual void Return(double value) = 0;
  virtual void Return(bool value) = 0;
  virtual void Return(const std::string& value) = 0;
  virtual void Return(const std::vector<double>& value) = 0;
  virtual void Return(const std::vector<vb::Long>& value) = 0;
  virtual void Return(const AttTableProp& value) = 0;
  virtual void Return(const DeviceInfo& value) = 0;
  virtual void Return(const MeasuredValue& value) = 0;
  // The object itself, as its device face.
  virtual void ReturnSelf() = 0;
};

}  // namespace com
