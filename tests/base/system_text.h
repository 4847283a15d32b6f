// The error text as callers get it, checked to be a consistent string.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/error_text.h"

namespace ps {

inline std::string systemText(uint32_t code) {
  _fixedString<250> out;
  out.assign("stale");
  systemErrorText(out, code);
  EXPECT_EQ(strlen(out.text), out.length);
  return out.text;
}

}  // namespace ps
