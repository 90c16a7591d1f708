// Puts the screen's mouse pointer back however a busy section ends.
#pragma once

#include "platform/Platform.h"

namespace platform {

class PointerRestore {
 public:
  explicit PointerRestore(IMousePointer* mouse) : mouse_(mouse), saved_(mouse ? mouse->Get() : 0) {}
  ~PointerRestore() {
    if (mouse_) mouse_->Set(saved_);
  }
  PointerRestore(const PointerRestore&) = delete;
  PointerRestore& operator=(const PointerRestore&) = delete;

 private:
  IMousePointer* mouse_;
  long saved_;
};

}  // namespace platform
