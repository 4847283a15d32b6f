#include <gtest/gtest.h>

#include "platform/windows_api.h"

namespace ps {
namespace {

TEST(Process, ModulesAndProcedures) {
  const HMODULE kernel32 = GetModuleHandleW(u"kernel32");
  ASSERT_NE(kernel32, nullptr);
  EXPECT_EQ(GetModuleHandleA("Kernel32.DLL"), kernel32);
  EXPECT_NE(GetModuleHandleA("ntdll"), kernel32);
  EXPECT_EQ(GetModuleHandleA("kernel32.dl"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(kernel32, "GetLogicalProcessorInformationEx"),
            reinterpret_cast<FARPROC>(&GetLogicalProcessorInformationEx));
  EXPECT_EQ(GetProcAddress(GetModuleHandleA("ntdll"), "GetLogicalProcessorInformationEx"), nullptr);
  EXPECT_EQ(GetProcAddress(kernel32, reinterpret_cast<const char*>(5)), nullptr);  // an ordinal, not a name
  EXPECT_EQ(GetLastError(), 127u);
}

}  // namespace
}  // namespace ps
