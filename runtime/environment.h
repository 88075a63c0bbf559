// One variable of this process's own environment block. A program started
// afterwards without an environment of its own inherits the block as it is
// then, changes included.
#pragma once

#include <cstddef>
#include <string>

namespace kestrun {

// ERROR_ENVVAR_NOT_FOUND: no variable of that name exists.
inline constexpr unsigned long environment_variable_not_found = 203;

struct environment_read {
  // GetEnvironmentVariableW's result: the units stored (without the null),
  // or, when the buffer was too small, the units needed (with the null); 0
  // for a missing variable and for an empty value.
  std::size_t length;
  // The last error after a result of 0 (ERROR_ENVVAR_NOT_FOUND, 203, for a
  // missing variable), else 0.
  unsigned long error;
};

environment_read read_environment_variable(const std::wstring& name, wchar_t* buffer,
                                           std::size_t units);

// Sets the variable; returns 0 or the Windows error of the failed call.
unsigned long write_environment_variable(const std::wstring& name, const std::wstring& value);

}  // namespace kestrun
