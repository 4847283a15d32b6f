#include "platform/linux/system_root.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace ps {

namespace {

std::mutex rootMutex;
std::string systemRoot = "/";
unsigned long rootChanges = 0;

}  // namespace

void setSystemRoot(const char* dir) {
  std::lock_guard<std::mutex> lock(rootMutex);
  systemRoot = (dir == nullptr || dir[0] == '\0') ? "/" : dir;
  // A root of "dir/" and "dir" name the same tree; keep one form.
  while (systemRoot.size() > 1 && systemRoot.back() == '/') systemRoot.pop_back();
  ++rootChanges;
}

namespace linuxLayer {

std::string rootedPath(const char* path) {
  std::string full;
  {
    std::lock_guard<std::mutex> lock(rootMutex);
    full = systemRoot;
  }
  if (full.back() != '/') full += '/';
  while (*path == '/') ++path;
  full += path;
  return full;
}

std::string cpuFile(int cpu, const char* file) {
  return "sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/" + file;
}

unsigned long rootGeneration() {
  std::lock_guard<std::mutex> lock(rootMutex);
  return rootChanges;
}

bool isRealRoot() {
  std::lock_guard<std::mutex> lock(rootMutex);
  return systemRoot == "/";
}

namespace {

int readCapped(const char* path, size_t cap, bool keepHead, std::string* out) {
  out->clear();
  const std::string full = rootedPath(path);
  const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  // sysfs reports a size of 4096 for every file and procfs 0, so read to the
  // end instead of trusting the size; one byte past the cap tells "too big".
  char chunk[8192];
  int result = 0;
  for (;;) {
    const size_t room = cap + 1 - out->size();
    const ssize_t got = ::read(fd, chunk, room < sizeof(chunk) ? room : sizeof(chunk));
    if (got < 0) {
      if (errno == EINTR) continue;
      result = errno;
      break;
    }
    if (got == 0) break;
    out->append(chunk, static_cast<size_t>(got));
    if (out->size() > cap) {
      result = EFBIG;
      break;
    }
  }
  ::close(fd);
  if (result == EFBIG && keepHead) {
    out->resize(cap);
    const size_t lastLine = out->rfind('\n');
    out->resize(lastLine == std::string::npos ? 0 : lastLine + 1);
    return 0;
  }
  if (result != 0) out->clear();
  return result;
}

}  // namespace

int readSystemFile(const char* path, size_t cap, std::string* out) {
  return readCapped(path, cap, false, out);
}

int readSystemLines(const char* path, size_t cap, std::string* out) {
  return readCapped(path, cap, true, out);
}

int listSystemDirectory(const char* path, void (*onName)(const char* name, void* context),
                        void* context) {
  const std::string full = rootedPath(path);
  DIR* dir = ::opendir(full.c_str());
  if (dir == nullptr) return errno;
  while (const dirent* entry = ::readdir(dir)) onName(entry->d_name, context);
  ::closedir(dir);
  return 0;
}

std::string trimmed(const std::string& text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && blank(text[begin])) ++begin;
  // sysfs strings may end in NUL bytes.
  while (end > begin && (blank(text[end - 1]) || text[end - 1] == '\0')) --end;
  return text.substr(begin, end - begin);
}

bool parseDigits(const std::string& text, size_t* pos, unsigned long long limit,
                 unsigned long long* value) {
  size_t i = *pos;
  unsigned long long result = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const unsigned digit = static_cast<unsigned>(text[i] - '0');
    if (digit > limit || result > (limit - digit) / 10) return false;
    result = result * 10 + digit;
  }
  if (i == *pos) return false;
  *pos = i;
  *value = result;
  return true;
}

bool parseUnsigned(const std::string& text, unsigned long long limit, unsigned long long* value) {
  const std::string digits = trimmed(text);
  size_t pos = 0;
  unsigned long long result = 0;
  if (!parseDigits(digits, &pos, limit, &result) || pos != digits.size()) return false;
  *value = result;
  return true;
}

bool parseCanonicalNumber(const std::string& text, unsigned long long limit,
                          unsigned long long* value) {
  if (text.size() > 1 && text[0] == '0') return false;
  size_t pos = 0;
  unsigned long long result = 0;
  if (!parseDigits(text, &pos, limit, &result) || pos != text.size()) return false;
  *value = result;
  return true;
}

bool lineValue(const std::string& text, const char* key, std::string* value) {
  const size_t keyLength = std::strlen(key);
  for (size_t line = 0; line < text.size();) {
    size_t end = text.find('\n', line);
    if (end == std::string::npos) end = text.size();
    if (text.compare(line, keyLength, key) == 0) {
      *value = text.substr(line + keyLength, end - line - keyLength);
      return true;
    }
    line = end + 1;
  }
  return false;
}

bool readUnsignedFile(const char* path, unsigned long long limit, unsigned long long* value) {
  std::string text;
  if (readSystemFile(path, smallFileCap, &text) != 0) return false;
  return parseUnsigned(text, limit, value);
}

DWORD errorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      // EFBIG (over the cap), EIO, EISDIR and the rest: the data cannot be used.
      return ERROR_INVALID_DATA;
  }
}

}  // namespace linuxLayer
}  // namespace ps
