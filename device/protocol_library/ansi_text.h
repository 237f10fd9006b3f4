// Texts cross the library's interface in the system's ANSI code page and the wire in UTF-8.
#pragma once

#include <string>
#include <string_view>

std::string AnsiToUtf8(const char* text);
// Characters the code page lacks become '?'; no best-fit look-alikes.
std::string Utf8ToAnsi(std::string_view text);
