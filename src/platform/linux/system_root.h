// The one way the Linux layer reads procfs and sysfs: every path is taken
// under the system root that setSystemRoot chose ("/" by default), so tests
// can point the whole layer at a recorded machine. Also the text parsing
// its readers share.
#pragma once

#include <cstddef>
#include <string>

#include "platform/windows_api.h"

namespace ps {
namespace linuxLayer {

constexpr size_t smallFileCap = 64 * 1024;
constexpr size_t cpuinfoCap = 1024 * 1024;
constexpr size_t dmiCap = 16 * 1024 * 1024;

// The full path of `path` (absolute or relative, as the kernel names it) under
// the current root.
std::string rootedPath(const char* path);

// "sys/devices/system/cpu/cpu<cpu>/<file>", the path of one CPU's sysfs file.
std::string cpuFile(int cpu, const char* file);

// Changes with every setSystemRoot call, so that what was read under the
// old root is read again.
unsigned long rootGeneration();

// True while the root is the running system's own "/".
bool isRealRoot();

// Reads at most `cap` bytes of the file. Returns 0, or the errno of the
// failing step (EFBIG when the file holds more than `cap` bytes).
int readSystemFile(const char* path, size_t cap, std::string* out);

// For line-oriented files whose head is still useful when they are huge
// (cpuinfo, mounts): reads at most `cap` bytes and drops a cut-off last line.
int readSystemLines(const char* path, size_t cap, std::string* out);

// The names in a directory under the root, for callers that filter them.
// Returns 0 or an errno.
int listSystemDirectory(const char* path, void (*onName)(const char* name, void* context),
                        void* context);

// Reads the decimal digits from text[*pos] on and moves *pos past them.
// False when there are none or the number exceeds `limit`.
bool parseDigits(const std::string& text, size_t* pos, unsigned long long limit,
                 unsigned long long* value);

// Parses a decimal number that fills the text apart from surrounding white
// space. False for anything else, and for values above `limit`.
bool parseUnsigned(const std::string& text, unsigned long long limit, unsigned long long* value);

// A number as the kernel and Windows write them in names ("cpu17", key "17"):
// digits only, no leading zero, at most `limit`.
bool parseCanonicalNumber(const std::string& text, unsigned long long limit,
                          unsigned long long* value);

// The rest of the first line that starts with `key` ("MemTotal:",
// "Cpus_allowed_list:"), without its line end.
bool lineValue(const std::string& text, const char* key, std::string* value);

// Reads a whole small file that holds one unsigned decimal number.
bool readUnsignedFile(const char* path, unsigned long long limit, unsigned long long* value);

// The Windows error code that stands for an errno of a failed read.
DWORD errorFromErrno(int error);

std::string trimmed(const std::string& text);

}  // namespace linuxLayer
}  // namespace ps
