// The hidden form that owns the driver's VISA control.  It has no
// behaviour of its own and is never shown.
#pragma once

#include "io/Export.h"
#include "io/VisaControl.h"

namespace io {

class QUORVEL_API frmVISA {
 public:
  CWVisa cwVisa1;
};

}  // namespace io
