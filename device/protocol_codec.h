// The device protocol's text form: request trees built element by element and written as an
// XML document, answers parsed into a flat list of elements in document order. Portable: texts
// are UTF-8 here; the library converts them at its boundary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Bounds on what the library accepts and builds.
constexpr size_t MaxTagNames = 256;
constexpr size_t MaxTagNameLength = 63;
constexpr size_t MaxRequestDepth = 32;
constexpr size_t MaxRequestElements = 4096;
constexpr size_t MaxRequestText = 4096;
constexpr size_t MaxAnswerBytes = 16u << 20;
constexpr size_t MaxAnswerMarkup = 600000;
constexpr size_t MaxAnswerDepth = 32;
constexpr size_t MaxElementText = 1023;

// The element names of one message; a tag is an index into it.
class TagNames {
public:
    // Fails (false) for an empty list, too many names, or a name that is no plain XML name.
    bool Assign(const std::vector<std::string>& names);
    int Find(std::string_view name) const;
    const std::string& Name(int tag) const { return names_[static_cast<size_t>(tag)]; }
    bool Valid(int tag) const { return tag >= 0 && static_cast<size_t>(tag) < names_.size(); }
    size_t size() const { return names_.size(); }

private:
    std::vector<std::string> names_;
    std::unordered_map<std::string, int> index_;
};

bool IsPlainXmlName(std::string_view name);

// A request: nodes in document order, each knowing its parent.
class RequestTree {
public:
    void Clear();
    bool BeginElement(const TagNames& tags, int tag);
    bool EndElement();
    bool AddText(const TagNames& tags, int tag, std::string_view utf8);
    bool AddInt(const TagNames& tags, int tag, int32_t value);
    bool AddId(const TagNames& tags, int tag, uint32_t value, int digits);
    // The XML document in UTF-8; elements still open are closed.
    std::string Serialize(const TagNames& tags) const;
    size_t size() const { return nodes_.size(); }

private:
    struct Node {
        int tag;
        int parent;  // -1 at the top
        bool leaf;
        std::string text;
    };
    bool AddLeaf(const TagNames& tags, int tag, std::string text);
    std::vector<Node> nodes_;
    std::vector<int> open_;
};

// An answer: every element in document order, parents before children.
struct AnswerElement {
    int tag;  // -1: a name not in the tag table
    int depth;
    uint32_t textOffset;
    uint32_t textLength;
};

struct Answer {
    std::vector<AnswerElement> elements;
    std::string texts;  // all element texts, one after another
    std::string_view Text(const AnswerElement& element) const
    {
        return std::string_view(texts).substr(element.textOffset, element.textLength);
    }
    void Clear()
    {
        elements.clear();
        texts.clear();
    }
};

enum class AnswerStatus { Ok, TooLarge, TooMuchMarkup, Malformed, TooDeep };

// Parses an answer body; on anything but Ok the answer is left empty. A body past the size or
// markup bounds keeps the root's children that lie whole within them.
AnswerStatus ParseAnswer(std::string_view body, const TagNames& tags, Answer& answer);

// Decimal signed 32-bit number with optional sign and surrounding white space.
bool ParseInt(std::string_view text, int32_t& value);
// 1 to 8 hexadecimal digits with optional surrounding white space.
bool ParseId(std::string_view text, uint32_t& value);
// Replaces each byte that is not part of a valid UTF-8 sequence with '?'.
std::string CleanUtf8(std::string_view text);
// The text without the characters that XML 1.0 cannot carry (control characters other than
// tab, line feed and carriage return; U+FFFE, U+FFFF). Input is valid UTF-8.
std::string XmlCharactersOnly(std::string_view utf8);
// The longest prefix of valid UTF-8 text of at most maxBytes that ends on a character boundary.
std::string_view CutUtf8(std::string_view text, size_t maxBytes);
