// The host's time service.
#pragma once

#include "core/Export.h"

namespace host {

class QUORVEL_API ITimeService {
 public:
  virtual ~ITimeService() = default;
  // Returns after the time with the user interface kept alive.
  virtual void Wait(float milliseconds) = 0;
  // Returns after the time.
  virtual void Pause(float milliseconds) = 0;
  virtual long Min(long a, long b) = 0;
  // Setting values at or above this marker are sent without their value.
  virtual double NoValue() = 0;
};

}  // namespace host
