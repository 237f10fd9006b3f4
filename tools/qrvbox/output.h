// What qrvbox says: results on standard output (as text columns or, with --json, as one JSON
// document), messages on standard error, and a progress line on a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// "qrvbox: " and the text on standard error; the progress line, if shown, is cleared first.
void Say(const std::string& text);

// Writes text to standard output; false when it could not be written (a closed pipe, a full disk).
bool PrintOut(const std::string& text);

// A JSON text: quoted and escaped, bytes that are not UTF-8 replaced.
std::string JsonText(std::string_view text);

// A JSON object built member by member, in the order added.
class JsonObject {
public:
    JsonObject& Text(const char* name, std::string_view value);
    JsonObject& Number(const char* name, int64_t value);
    JsonObject& Boolean(const char* name, bool value);
    JsonObject& Raw(const char* name, const std::string& json);  // an array or object already made
    std::string Json() const { return "{" + members_ + "}"; }

private:
    void Name(const char* name);
    std::string members_;
};

// A JSON array of elements already made.
std::string JsonArray(const std::vector<std::string>& elements);

// The eight-digit upper-case hexadecimal form of a document or folder id.
std::string HexId(uint32_t id);

// One line on standard error rewritten in place while a long command runs; shown only when
// standard error is a terminal.
class ProgressLine {
public:
    ProgressLine();
    ~ProgressLine();
    void Show(const std::string& text);
    void Clear();

private:
    bool enabled_;
    size_t shown_ = 0;
};
