// The hidden form that owns the driver's VISA control.  The form has no
// behaviour of its own and is never shown.
#pragma once

#include "core/Export.h"
#include "visa/CWVisa.h"

namespace io {

class QUORVEL_API frmVISA {
 public:
  explicit frmVISA(visa::VisaFactory factory = {}) : cwVisa1(std::move(factory)) {}
  visa::CWVisa cwVisa1;
};

}  // namespace io
