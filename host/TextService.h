// The host's text service: texts by number, and form registration.
#pragma once

#include <string>

#include "core/Export.h"

namespace host {

// Text 32000: the title of the measurement page.
inline constexpr long kTextMeasurementPage = 32000;

class QUORVEL_API ITextService {
 public:
  virtual ~ITextService() = default;
  virtual std::string GetText(long number) = 0;
  virtual void RegisterForm(const std::string& formName) = 0;
};

}  // namespace host
