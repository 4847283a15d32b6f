// The Windows operations the program calls, under their Windows names and
// with their Windows binary layouts. On Windows they are the real API; on
// Linux src/platform/linux/ answers them from the running machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

#ifdef _WIN32
// The real API. Nothing here may pull in the Linux layer: the calls below are
// the system's own, under the same names the rest of the program uses.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <sysinfoapi.h>
#include <time.h>
namespace ps {
using ::CloseHandle;
using ::FormatMessageA;
using ::GetActiveProcessorGroupCount;
using ::GetCurrentProcess;
using ::GetLastError;
using ::GetLogicalProcessorInformation;
using ::GetLogicalProcessorInformationEx;
using ::GetModuleHandleA;
using ::GetModuleHandleW;
using ::GetPhysicallyInstalledSystemMemory;
using ::GetProcAddress;
using ::GetProcessHeap;
using ::GetSystemFirmwareTable;
using ::GetTickCount;
using ::HeapAlloc;
using ::HeapFree;
using ::OpenThread;
using ::RegCloseKey;
using ::RegOpenKeyExW;
using ::RegQueryValueExA;
using ::RegQueryValueExW;
using ::SetLastError;
using ::SetProcessInformation;
using ::SetThreadGroupAffinity;
using ::Sleep;
using ::_localtime64_s;
using ::_time64;
// UTF-16 code unit; wchar_t is 2 bytes on Windows.
typedef wchar_t wideChar;
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
// Looked up by name in kernel32, since old systems lack it.
typedef BOOL(WINAPI* GetLogicalProcessorInformationExFunction)(LOGICAL_PROCESSOR_RELATIONSHIP,
                                                                SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*,
                                                                DWORD*);
// The machine is the running one: there is no tree of files to redirect.
inline void setSystemRoot(const char*) {}
}  // namespace ps
#else

namespace ps {

// Basic types, sized as on 64-bit Windows.
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t UINT;
typedef int BOOL;
typedef uint64_t ULONGLONG;
typedef uint64_t ULONG_PTR;
typedef uint64_t KAFFINITY;
typedef size_t SIZE_T;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef int64_t __time64_t;
typedef int errno_t;
// UTF-16 code unit: wchar_t is 4 bytes on Linux.
typedef char16_t WCHAR;
typedef char16_t wideChar;
typedef const WCHAR* LPCWSTR;

struct HKEY__;
typedef HKEY__* HKEY;
struct HINSTANCE__;
typedef HINSTANCE__* HMODULE;
typedef void (*FARPROC)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Error codes the Linux layer produces.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NOT_FOUND = 1168;
constexpr DWORD ERROR_BAD_IMPERSONATION_LEVEL = 1346;

// Registry.
#define HKEY_LOCAL_MACHINE ((::ps::HKEY)(::ps::ULONG_PTR)0x80000002u)
#define HKEY_PERFORMANCE_DATA ((::ps::HKEY)(::ps::ULONG_PTR)0x80000004u)
#define HKEY_PERFORMANCE_TEXT ((::ps::HKEY)(::ps::ULONG_PTR)0x80000050u)
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

// Messages.
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;

// Heap.
constexpr DWORD HEAP_ZERO_MEMORY = 0x00000008;

// Threads.
constexpr DWORD THREAD_ALL_ACCESS = 0x1FFFFF;

// Firmware tables: 'RSMB' as one little-endian 32-bit value.
constexpr DWORD RSMB_PROVIDER = 0x52534D42;

// Processor topology.
enum LOGICAL_PROCESSOR_RELATIONSHIP : int32_t {
  RelationProcessorCore = 0,
  RelationNumaNode = 1,
  RelationCache = 2,
  RelationProcessorPackage = 3,
  RelationGroup = 4,
  RelationAll = 0xffff
};

enum PROCESSOR_CACHE_TYPE : int32_t { CacheUnified, CacheInstruction, CacheData, CacheTrace };

struct CACHE_DESCRIPTOR {
  BYTE Level;
  BYTE Associativity;
  WORD LineSize;
  DWORD Size;
  PROCESSOR_CACHE_TYPE Type;
};

struct SYSTEM_LOGICAL_PROCESSOR_INFORMATION {
  ULONG_PTR ProcessorMask;
  LOGICAL_PROCESSOR_RELATIONSHIP Relationship;
  union {
    struct {
      BYTE Flags;
    } ProcessorCore;
    struct {
      DWORD NodeNumber;
    } NumaNode;
    CACHE_DESCRIPTOR Cache;
    ULONGLONG Reserved[2];
  };
};
static_assert(sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION) == 32, "32-byte processor records");

struct PROCESSOR_GROUP_INFO {
  BYTE MaximumProcessorCount;
  BYTE ActiveProcessorCount;
  BYTE Reserved[38];
  KAFFINITY ActiveProcessorMask;
};
static_assert(sizeof(PROCESSOR_GROUP_INFO) == 48, "Windows layout");

struct GROUP_RELATIONSHIP {
  WORD MaximumGroupCount;
  WORD ActiveGroupCount;
  BYTE Reserved[20];
  PROCESSOR_GROUP_INFO GroupInfo[1];
};

struct GROUP_AFFINITY {
  KAFFINITY Mask;
  WORD Group;
  WORD Reserved[3];
};
static_assert(sizeof(GROUP_AFFINITY) == 16, "Windows layout");

struct PROCESSOR_RELATIONSHIP {
  BYTE Flags;
  BYTE EfficiencyClass;
  BYTE Reserved[20];
  WORD GroupCount;
  GROUP_AFFINITY GroupMask[1];
};

struct SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX {
  LOGICAL_PROCESSOR_RELATIONSHIP Relationship;
  DWORD Size;
  union {
    PROCESSOR_RELATIONSHIP Processor;
    GROUP_RELATIONSHIP Group;
  };
};
static_assert(offsetof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX, Group) == 8, "Windows layout");
static_assert(offsetof(GROUP_RELATIONSHIP, GroupInfo) == 24, "Windows layout");

typedef BOOL (*GetLogicalProcessorInformationExFunction)(LOGICAL_PROCESSOR_RELATIONSHIP,
                                                         SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX*,
                                                         DWORD*);

// Power throttling.
enum PROCESS_INFORMATION_CLASS : int32_t { ProcessMemoryPriority = 0, ProcessPowerThrottling = 4 };
constexpr ULONG PROCESS_POWER_THROTTLING_CURRENT_VERSION = 1;
constexpr ULONG PROCESS_POWER_THROTTLING_EXECUTION_SPEED = 1;
struct PROCESS_POWER_THROTTLING_STATE {
  ULONG Version;
  ULONG ControlMask;
  ULONG StateMask;
};
static_assert(sizeof(PROCESS_POWER_THROTTLING_STATE) == 12, "Windows layout");

// Performance data (64-bit layouts).
struct SYSTEMTIME {
  WORD wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
};
struct PERF_DATA_BLOCK {
  WCHAR Signature[4];
  DWORD LittleEndian;
  DWORD Version;
  DWORD Revision;
  DWORD TotalByteLength;
  DWORD HeaderLength;
  DWORD NumObjectTypes;
  LONG DefaultObject;
  SYSTEMTIME SystemTime;
  int64_t PerfTime;
  int64_t PerfFreq;
  int64_t PerfTime100nSec;
  DWORD SystemNameLength;
  DWORD SystemNameOffset;
};
static_assert(sizeof(PERF_DATA_BLOCK) == 88, "Windows layout");

struct PERF_OBJECT_TYPE {
  DWORD TotalByteLength;
  DWORD DefinitionLength;
  DWORD HeaderLength;
  DWORD ObjectNameTitleIndex;
  DWORD ObjectNameTitle;
  DWORD ObjectHelpTitleIndex;
  DWORD ObjectHelpTitle;
  DWORD DetailLevel;
  DWORD NumCounters;
  LONG DefaultCounter;
  LONG NumInstances;
  DWORD CodePage;
  int64_t PerfTime;
  int64_t PerfFreq;
};
static_assert(sizeof(PERF_OBJECT_TYPE) == 64, "Windows layout");

struct PERF_COUNTER_DEFINITION {
  DWORD ByteLength;
  DWORD CounterNameTitleIndex;
  DWORD CounterNameTitle;
  DWORD CounterHelpTitleIndex;
  DWORD CounterHelpTitle;
  LONG DefaultScale;
  DWORD DetailLevel;
  DWORD CounterType;
  DWORD CounterSize;
  DWORD CounterOffset;
};
static_assert(sizeof(PERF_COUNTER_DEFINITION) == 40, "Windows layout");

struct PERF_INSTANCE_DEFINITION {
  DWORD ByteLength;
  DWORD ParentObjectTitleIndex;
  DWORD ParentObjectInstance;
  LONG UniqueID;
  DWORD NameOffset;
  DWORD NameLength;
};
static_assert(sizeof(PERF_INSTANCE_DEFINITION) == 24, "Windows layout");

struct PERF_COUNTER_BLOCK {
  DWORD ByteLength;
};

constexpr LONG PERF_NO_INSTANCES = -1;
constexpr DWORD PERF_DETAIL_NOVICE = 100;
constexpr DWORD PERF_COUNTER_RAWCOUNT = 0x00010000;

// Firmware table behind the raw SMBIOS header.
struct RawSMBIOSData {
  BYTE Used20CallingMethod;
  BYTE SMBIOSMajorVersion;
  BYTE SMBIOSMinorVersion;
  BYTE DmiRevision;
  DWORD Length;
  BYTE SMBIOSTableData[1];
};
static_assert(offsetof(RawSMBIOSData, SMBIOSTableData) == 8, "Windows layout");

// Process and memory.
HANDLE GetCurrentProcess();
BOOL SetProcessInformation(HANDLE process, PROCESS_INFORMATION_CLASS infoClass, LPVOID info, DWORD size);
BOOL GetPhysicallyInstalledSystemMemory(ULONGLONG* totalMemoryInKilobytes);

// Topology.
BOOL GetLogicalProcessorInformation(SYSTEM_LOGICAL_PROCESSOR_INFORMATION* buffer, DWORD* returnedLength);
BOOL GetLogicalProcessorInformationEx(LOGICAL_PROCESSOR_RELATIONSHIP relationship,
                                      SYSTEM_LOGICAL_PROCESSOR_INFORMATION_EX* buffer,
                                      DWORD* returnedLength);
WORD GetActiveProcessorGroupCount();

// Threads. OpenThread gives a handle for the calling thread whatever the id.
HANDLE OpenThread(DWORD desiredAccess, BOOL inheritHandle, DWORD threadId);
BOOL CloseHandle(HANDLE handle);
BOOL SetThreadGroupAffinity(HANDLE thread, const GROUP_AFFINITY* groupAffinity,
                            GROUP_AFFINITY* previousGroupAffinity);

// Registry.
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM samDesired, HKEY* result);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize);
LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize);
LSTATUS RegCloseKey(HKEY key);

// Firmware and heap.
UINT GetSystemFirmwareTable(DWORD providerSignature, DWORD tableId, LPVOID buffer, DWORD bufferSize);
HANDLE GetProcessHeap();
LPVOID HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL HeapFree(HANDLE heap, DWORD flags, LPVOID memory);

// Errors and modules.
DWORD GetLastError();
void SetLastError(DWORD code);
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, char* buffer,
                     DWORD size, void* arguments);
HMODULE GetModuleHandleA(const char* moduleName);
HMODULE GetModuleHandleW(LPCWSTR moduleName);
FARPROC GetProcAddress(HMODULE module, const char* procName);

// Clocks.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);
__time64_t _time64(__time64_t* destination);
errno_t _localtime64_s(struct tm* result, const __time64_t* time);

// Test seam: every procfs/sysfs file is read under this directory ("/" by default).
void setSystemRoot(const char* dir);

}  // namespace ps

#endif
