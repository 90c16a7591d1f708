// The host's settings object: values by section and key.
#pragma once

#include <string>

#include "core/Export.h"

namespace host {

class QUORVEL_API ISettings {
 public:
  virtual ~ISettings() = default;
  virtual std::string ReadValue(const std::string& section, const std::string& key,
                                const std::string& defaultValue) = 0;
  virtual void WriteValue(const std::string& section, const std::string& key, const std::string& value) = 0;
};

}  // namespace host
