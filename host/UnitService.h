// The host's unit service: physical units of measured values.
#pragma once

#include <string>

#include "core/Export.h"

namespace host {

struct UnitRecord {
  std::string Text;
  long Kind = 0;
};

class QUORVEL_API IUnitService {
 public:
  virtual ~IUnitService() = default;
  virtual UnitRecord MakeUnit(const std::string& text, long kind) = 0;
  virtual std::string UnitText(const UnitRecord& unit) = 0;
};

}  // namespace host
