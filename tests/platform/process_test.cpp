#include <gtest/gtest.h>

#include <utility>

#include "platform/windows_api.h"
#include "testing_root.h"

namespace ps {
namespace {

TEST(Process, ModulesAndProcedures) {
  const HMODULE kernel32 = GetModuleHandleA("kernel32");
  const HMODULE ntdll = GetModuleHandleW(u"NTDLL");
  ASSERT_NE(kernel32, nullptr);
  ASSERT_NE(ntdll, nullptr);
  EXPECT_NE(ntdll, kernel32);
  EXPECT_EQ(GetModuleHandleW(u"Kernel32.DLL"), kernel32);
  EXPECT_EQ(GetModuleHandleA("ntdll.dll"), ntdll);
  for (const char* missing : {"user32", "kernel32.dl", ""}) {
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA(missing), nullptr) << missing;
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND) << missing;
  }
  EXPECT_EQ(GetProcAddress(kernel32, "GetLogicalProcessorInformationEx"),
            reinterpret_cast<FARPROC>(&GetLogicalProcessorInformationEx));
  for (const auto& lookup : {std::make_pair(kernel32, "GetTickCount"),
                             std::make_pair(ntdll, "GetLogicalProcessorInformationEx"),
                             std::make_pair(kernel32, reinterpret_cast<const char*>(5))}) {  // an ordinal
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(lookup.first, lookup.second), nullptr);
    EXPECT_EQ(GetLastError(), 127u);
  }
}

TEST(Process, HeapHandlesAndThrottling) {
  const HANDLE heap = GetProcessHeap();
  auto* block = static_cast<unsigned char*>(HeapAlloc(heap, 0x8 /* HEAP_ZERO_MEMORY */, 4096));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(block[i], 0) << i;
  EXPECT_TRUE(HeapFree(heap, 0, block));
  EXPECT_TRUE(HeapFree(heap, 0, nullptr));

  PROCESS_POWER_THROTTLING_STATE state = {1, 1, 0};
  EXPECT_TRUE(SetProcessInformation(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof(state)));
  EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace ps
