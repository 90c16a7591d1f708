// The VB error a call raises, for tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "core/Vb.h"

inline vb::Error CaughtFrom(const std::function<void()>& f) {
  try {
    f();
  } catch (const vb::Error& e) {
    return e;
  }
  ADD_FAILURE() << "no error raised";
  return vb::Error(0, "", "");
}

// 0 when the call raised nothing.
inline long ErrorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const vb::Error& e) {
    return e.Number();
  }
  return 0;
}
