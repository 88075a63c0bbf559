// Conversions between the narrow strings the starters log and compare and
// the UTF-16 names Windows keeps. Narrow names are UTF-8, so every file name
// survives the round trip, whatever the machine's ANSI code page is.
#pragma once

#include <string>

namespace kestrun {

std::wstring widen(const std::string& narrow_text);
std::string narrow(const std::wstring& wide_text);

// True when text ends with suffix, compared byte for byte.
bool ends_with(const std::string& text, const std::string& suffix);
bool starts_with(const std::string& text, const std::string& prefix);

}  // namespace kestrun
