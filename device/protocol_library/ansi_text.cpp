#include "device/protocol_library/ansi_text.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace {

std::wstring Widen(UINT codePage, std::string_view text)
{
    if (text.empty())
        return {};
    int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Narrow(UINT codePage, const std::wstring& wide)
{
    if (wide.empty())
        return {};
    // UTF-8 as the ANSI code page takes neither flags nor a default character.
    bool utf8 = codePage == CP_UTF8;
    DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = utf8 ? nullptr : "?";
    int length = WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                     fallback, nullptr);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, wide.data(), static_cast<int>(wide.size()), text.data(), length,
                        fallback, nullptr);
    return text;
}

}  // namespace

std::string AnsiToUtf8(const char* text)
{
    if (!text)
        return {};
    return Narrow(CP_UTF8, Widen(CP_ACP, text));
}

std::string Utf8ToAnsi(std::string_view text)
{
    // Seven-bit text is the same in UTF-8 and in every ANSI code page; answers are mostly that,
    // and a listing asks for tens of thousands of texts.
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(text);
    return Narrow(GetACP(), Widen(CP_UTF8, text));
}
