#include "tools/qrvbox/output.h"

#include <cstdio>

#include "device/protocol_codec.h"
#include "tools/qrvbox/platform.h"

namespace {

// The progress line on show, cleared before any message so that the two never mix.
ProgressLine* ActiveProgress = nullptr;

// Columns a progress line may take: the shortest terminal's width, less one for the cursor.
constexpr size_t ProgressWidth = 79;

// Cuts UTF-8 text to at most the given number of characters.
std::string FirstCharacters(const std::string& text, size_t characters) {
    size_t at = 0, count = 0;
    while (at < text.size() && count < characters) {
        const auto lead = static_cast<unsigned char>(text[at]);
        at += lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        ++count;
    }
    return text.substr(0, std::min(at, text.size()));
}

size_t CharacterCount(const std::string& text) {
    size_t count = 0;
    for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return count;
}

}  // namespace

void Say(const std::string& text) {
    if (ActiveProgress) ActiveProgress->Clear();
    WriteText(stderr, "qrvbox: " + text + "\n");
}

bool PrintOut(const std::string& text) {
    return WriteText(stdout, text);
}

std::string JsonText(std::string_view text) {
    const std::string clean = CleanUtf8(text);
    std::string out = "\"";
    for (char c : clean) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

void JsonObject::Name(const char* name) {
    if (!members_.empty()) members_ += ",";
    members_ += JsonText(name) + ":";
}

JsonObject& JsonObject::Text(const char* name, std::string_view value) {
    Name(name);
    members_ += JsonText(value);
    return *this;
}

JsonObject& JsonObject::Number(const char* name, int64_t value) {
    Name(name);
    members_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Boolean(const char* name, bool value) {
    Name(name);
    members_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::Raw(const char* name, const std::string& json) {
    Name(name);
    members_ += json;
    return *this;
}

std::string JsonArray(const std::vector<std::string>& elements) {
    std::string out = "[";
    for (size_t i = 0; i < elements.size(); ++i) out += (i ? "," : "") + elements[i];
    return out + "]";
}

std::string HexId(uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(id));
    return text;
}

ProgressLine::ProgressLine() : enabled_(IsTerminal(stderr)) {}

ProgressLine::~ProgressLine() {
    Clear();
    if (ActiveProgress == this) ActiveProgress = nullptr;
}

void ProgressLine::Show(const std::string& text) {
    if (!enabled_) return;
    ActiveProgress = this;
    const std::string line = FirstCharacters(text, ProgressWidth);
    // Blanks over what is left of a longer line before; the cursor goes back to the start.
    std::string padded = "\r" + line;
    const size_t characters = CharacterCount(line);
    if (shown_ > characters) padded += std::string(shown_ - characters, ' ');
    WriteText(stderr, padded);
    shown_ = characters;
}

void ProgressLine::Clear() {
    if (!enabled_ || shown_ == 0) return;
    WriteText(stderr, "\r" + std::string(shown_, ' ') + "\r");
    shown_ = 0;
    if (ActiveProgress == this) ActiveProgress = nullptr;
}
