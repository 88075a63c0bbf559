#include "starter/command_line.h"

#include <cstring>

namespace kestrun {

const wchar_t* arguments_after_program_name(const wchar_t* command_line) {
  const wchar_t* next = command_line;
  if (*next == L'"') {
    ++next;
    while (*next != L'\0' && *next != L'"') ++next;
    if (*next == L'"') ++next;
  } else {
    while (*next > L' ') ++next;
  }
  while (*next != L'\0' && *next <= L' ') ++next;
  return next;
}

std::string take_new_arguments(char* command_line, const std::function<void()>& on_switch) {
  std::string new_arguments;
  char* next = command_line;
  while (*next != '\0') {
    while (*next == ' ') ++next;
    if (*next == '\0') break;
    char* token = next;
    while (*next != '\0' && *next != ' ') ++next;
    if (*next == ' ') *next++ = '\0';
    if (std::strcmp(token, clear_old_updater_switch) == 0) {
      on_switch();
    } else {
      new_arguments += token;
      new_arguments += ' ';
    }
  }
  return new_arguments;
}

bool arguments_changed(std::int32_t command_line_length, const std::string& new_arguments) {
  return static_cast<std::int64_t>(command_line_length) !=
         static_cast<std::int64_t>(new_arguments.size()) - 1;
}

}  // namespace kestrun
