#include "runtime/environment.h"

#include <windows.h>

namespace kestrun {

environment_read read_environment_variable(const std::wstring& name, wchar_t* buffer,
                                           std::size_t units) {
  SetLastError(0);
  const DWORD length = GetEnvironmentVariableW(name.c_str(), buffer, static_cast<DWORD>(units));
  return environment_read{length, length == 0 ? GetLastError() : 0};
}

unsigned long write_environment_variable(const std::wstring& name, const std::wstring& value) {
  if (SetEnvironmentVariableW(name.c_str(), value.c_str())) return 0;
  const DWORD error = GetLastError();
  return error == 0 ? ERROR_INVALID_FUNCTION : error;
}

}  // namespace kestrun
