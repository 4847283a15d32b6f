// Forced into the shared test sources of the Windows build. The tests that
// use these POSIX calls steer the Linux layer (recorded machines, TZ rules)
// and are filtered out there; the rest only needs them to compile. No
// directory is made, so a recorded-machine root stays unset.
#pragma once

#ifdef __cplusplus
#include <cstdlib>

inline char* mkdtemp(char*) { return nullptr; }
inline int setenv(const char* name, const char* value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char* name) { return _putenv_s(name, ""); }
#endif
