#include "runtime/text.h"

#include <windows.h>

namespace kestrun {

std::wstring widen(const std::string& narrow_text) {
  if (narrow_text.empty()) return std::wstring();
  const int size = static_cast<int>(narrow_text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, narrow_text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, narrow_text.data(), size, &wide[0], length);
  return wide;
}

std::string narrow(const std::wstring& wide_text) {
  if (wide_text.empty()) return std::string();
  const int size = static_cast<int>(wide_text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide_text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide_text.data(), size, &text[0], length, nullptr, nullptr);
  return text;
}

bool ends_with(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace kestrun
