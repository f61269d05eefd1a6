// The few POSIX calls the portable GoogleTest suites make, for the Windows
// build (force-included there).
#ifndef ORX_TESTS_WIN_SHIM_H
#define ORX_TESTS_WIN_SHIM_H
#ifdef _WIN32
#include <cstdlib>
#include <string>

inline int setenv(const char *name, const char *value, int overwrite)
{
    return !overwrite && std::getenv(name) != nullptr ? 0 : _putenv_s(name, value);
}

inline int unsetenv(const char *name)
{
    return _putenv_s(name, "");
}
#endif
#endif
