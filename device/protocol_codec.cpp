#include "device/protocol_codec.h"

#include <algorithm>
#include <cstdio>

#include <pugixml.hpp>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence at text[at], or 0 when the byte there starts none.
size_t SequenceLength(std::string_view text, size_t at)
{
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    size_t left = text.size() - at;
    if (lead == 0)
        return 0;  // a zero byte would end the text at the library's boundary
    if (lead < 0x80)
        return 1;
    // Second-byte ranges exclude overlong forms, surrogates and code points past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    size_t length;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else
        return 0;
    if (left < length || byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (size_t i = 2; i < length; ++i)
        if (!IsContinuation(byte(at + i)))
            return 0;
    return length;
}

// True when the body holds nothing but white space and markup (a declaration, comments):
// an answer that carries no element at all.
bool OnlyMarkupAndSpace(std::string_view body)
{
    bool inside = false;
    for (char c : body) {
        if (inside)
            inside = c != '>';
        else if (c == '<')
            inside = true;
        else if (!IsSpace(c))
            return false;
    }
    return true;
}

// Where a text that reached the limits is cut: after the last child of the root that it holds
// whole (or after the root's start tag when there is none). The root's end tag goes after it.
struct AnswerCut {
    size_t end = 0;  // 0: not even the root's start tag is there
    std::string root;
    bool rootEmpty = false;  // <ROOT/>: nothing to close
    bool tooDeep = false;    // the text nests deeper than an answer may, whole or not
    bool keptChild = false;  // at least one child of the root lies whole within the text
    bool childStarted = false;
};

AnswerCut CutAfterWholeChildren(std::string_view text)
{
    AnswerCut cut;
    int depth = 0;
    size_t at = 0;
    auto skipPast = [&](std::string_view mark) {
        size_t found = text.find(mark, at);
        at = found == std::string_view::npos ? text.size() : found + mark.size();
        return found != std::string_view::npos;
    };
    while ((at = text.find('<', at)) != std::string_view::npos) {
        std::string_view rest = text.substr(at);
        if (rest.starts_with("<?")) {
            skipPast("?>");
        } else if (rest.starts_with("<!--")) {
            skipPast("-->");
        } else if (rest.starts_with("<![CDATA[")) {
            skipPast("]]>");
        } else if (rest.starts_with("<!")) {
            skipPast(">");
        } else {
            bool closing = rest.starts_with("</");
            size_t nameStart = at + (closing ? 2 : 1);
            // The tag's end, past quoted attribute values.
            char quote = 0;
            size_t end = nameStart;
            for (; end < text.size(); ++end) {
                char c = text[end];
                if (quote)
                    quote = c == quote ? 0 : quote;
                else if (c == '"' || c == '\'')
                    quote = c;
                else if (c == '>')
                    break;
            }
            if (end >= text.size()) {
                cut.childStarted = cut.childStarted || (depth == 1 && !closing);
                break;
            }
            bool empty = !closing && text[end - 1] == '/';
            if (!closing && static_cast<size_t>(depth) + 1 > MaxAnswerDepth) {
                cut.tooDeep = true;
                break;
            }
            if (depth == 1 && !closing)
                cut.childStarted = true;
            if (depth == 0 && !closing) {
                size_t nameEnd = text.find_first_of(" \t\r\n/>", nameStart);
                cut.root = std::string(text.substr(nameStart, nameEnd - nameStart));
                cut.end = end + 1;
                cut.rootEmpty = empty;
                if (empty)
                    break;
            }
            depth += closing ? -1 : (empty ? 0 : 1);
            if (depth == 1 && (closing || empty)) {
                cut.end = end + 1;
                cut.keptChild = true;
            }
            if (depth <= 0)
                break;
            at = end + 1;
        }
    }
    if (cut.root.empty())
        cut.end = 0;
    return cut;
}

pugi::xml_node NextElementSibling(pugi::xml_node node)
{
    for (node = node.next_sibling(); node; node = node.next_sibling())
        if (node.type() == pugi::node_element)
            return node;
    return node;
}

pugi::xml_node FirstElementChild(pugi::xml_node node)
{
    for (node = node.first_child(); node; node = node.next_sibling())
        if (node.type() == pugi::node_element)
            return node;
    return node;
}

std::string_view ElementText(pugi::xml_node element)
{
    for (pugi::xml_node child = element.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata)
            return child.value();
    return {};
}

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override
    {
        text.append(static_cast<const char*>(data), size);
    }
};

}  // namespace

bool IsPlainXmlName(std::string_view name)
{
    if (name.empty() || name.size() > MaxTagNameLength)
        return false;
    auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
    if (!letter(name[0]))
        return false;
    return std::all_of(name.begin(), name.end(), [&](char c) {
        return letter(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    });
}

bool TagNames::Assign(const std::vector<std::string>& names)
{
    names_.clear();
    index_.clear();
    if (names.empty() || names.size() > MaxTagNames)
        return false;
    for (const std::string& name : names)
        if (!IsPlainXmlName(name))
            return false;
    names_ = names;
    // A name listed twice is found at its first index.
    for (size_t i = names_.size(); i-- > 0;)
        index_[names_[i]] = static_cast<int>(i);
    return true;
}

int TagNames::Find(std::string_view name) const
{
    auto found = index_.find(std::string(name));
    return found == index_.end() ? -1 : found->second;
}

void RequestTree::Clear()
{
    nodes_.clear();
    open_.clear();
}

bool RequestTree::BeginElement(const TagNames& tags, int tag)
{
    if (!tags.Valid(tag) || open_.size() >= MaxRequestDepth || nodes_.size() >= MaxRequestElements)
        return false;
    nodes_.push_back({tag, open_.empty() ? -1 : open_.back(), false, {}});
    open_.push_back(static_cast<int>(nodes_.size() - 1));
    return true;
}

bool RequestTree::EndElement()
{
    if (open_.empty())
        return false;
    open_.pop_back();
    return true;
}

bool RequestTree::AddLeaf(const TagNames& tags, int tag, std::string text)
{
    if (!tags.Valid(tag) || open_.size() >= MaxRequestDepth || nodes_.size() >= MaxRequestElements)
        return false;
    nodes_.push_back({tag, open_.empty() ? -1 : open_.back(), true, std::move(text)});
    return true;
}

bool RequestTree::AddText(const TagNames& tags, int tag, std::string_view utf8)
{
    if (utf8.size() > MaxRequestText)
        return false;
    return AddLeaf(tags, tag, XmlCharactersOnly(CleanUtf8(utf8)));
}

bool RequestTree::AddInt(const TagNames& tags, int tag, int32_t value)
{
    return AddLeaf(tags, tag, std::to_string(value));
}

bool RequestTree::AddId(const TagNames& tags, int tag, uint32_t value, int digits)
{
    if (digits < 1 || digits > 8)
        return false;
    char text[16];
    snprintf(text, sizeof text, "%0*X", digits, static_cast<unsigned>(value));
    return AddLeaf(tags, tag, text);
}

std::string RequestTree::Serialize(const TagNames& tags) const
{
    pugi::xml_document document;
    std::vector<pugi::xml_node> made;
    made.reserve(nodes_.size());
    for (const Node& node : nodes_) {
        pugi::xml_node parent = node.parent < 0 ? pugi::xml_node(document) : made[static_cast<size_t>(node.parent)];
        pugi::xml_node element = parent.append_child(tags.Name(node.tag).c_str());
        if (node.leaf && !node.text.empty())
            element.append_child(pugi::node_pcdata).set_value(node.text.c_str());
        made.push_back(element);
    }
    StringWriter writer;
    writer.text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    document.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.text;
}

AnswerStatus ParseAnswer(std::string_view body, const TagNames& tags, Answer& answer)
{
    answer.Clear();
    // An answer past the limits is not refused: its root keeps the children that arrived whole
    // within them, and the caller's tables decide how many of those it wants.
    std::string kept;
    size_t limit = std::min(body.size(), MaxAnswerBytes);
    size_t markup = 0;
    for (size_t i = 0; i < limit; ++i)
        if (body[i] == '<' && ++markup > MaxAnswerMarkup) {
            limit = i;
            break;
        }
    if (limit < body.size()) {
        AnswerCut cut = CutAfterWholeChildren(body.substr(0, limit));
        // Nesting past the bound is refused as in an answer within the limits; and an answer
        // whose every child was cut away carries nothing: either would otherwise pass as an
        // empty answer, and the request would fail without a word.
        if (cut.tooDeep)
            return AnswerStatus::TooDeep;
        if (cut.end == 0 || (cut.childStarted && !cut.keptChild))
            return body.size() > MaxAnswerBytes ? AnswerStatus::TooLarge : AnswerStatus::TooMuchMarkup;
        kept.reserve(cut.end + cut.root.size() + 3);
        kept.append(body.substr(0, cut.end));
        if (!cut.rootEmpty)
            kept.append("</").append(cut.root).append(">");
        body = kept;
    }

    pugi::xml_document document;
    unsigned options = pugi::parse_default | pugi::parse_ws_pcdata_single;
    pugi::xml_parse_result parsed = document.load_buffer(body.data(), body.size(), options, pugi::encoding_utf8);
    if (!parsed) {
        if (parsed.status == pugi::status_no_document_element && OnlyMarkupAndSpace(body))
            return AnswerStatus::Ok;
        return AnswerStatus::Malformed;
    }

    // Pre-order walk without recursion: the nesting is checked before it is followed.
    pugi::xml_node node = FirstElementChild(document);
    int depth = 1;
    while (node) {
        std::string_view raw = ElementText(node);
        std::string clean = CleanUtf8(raw.substr(0, MaxElementText + 3));
        std::string_view text = CutUtf8(clean, MaxElementText);
        answer.elements.push_back({tags.Find(node.name()), depth, static_cast<uint32_t>(answer.texts.size()),
                                   static_cast<uint32_t>(text.size())});
        answer.texts.append(text);

        pugi::xml_node child = FirstElementChild(node);
        if (child) {
            if (static_cast<size_t>(depth) >= MaxAnswerDepth) {
                answer.Clear();
                return AnswerStatus::TooDeep;
            }
            node = child;
            ++depth;
            continue;
        }
        while (node && !NextElementSibling(node)) {
            node = node.parent();
            --depth;
            if (node == document)
                node = pugi::xml_node();
        }
        if (node)
            node = NextElementSibling(node);
    }
    return AnswerStatus::Ok;
}

bool ParseInt(std::string_view text, int32_t& value)
{
    value = 0;
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 11)
        return false;
    int64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (negative)
        number = -number;
    if (number < INT32_MIN || number > INT32_MAX)
        return false;
    value = static_cast<int32_t>(number);
    return true;
}

bool ParseId(std::string_view text, uint32_t& value)
{
    value = 0;
    text = Trim(text);
    if (text.empty() || text.size() > 8)
        return false;
    uint32_t number = 0;
    for (char c : text) {
        int digit = HexValue(c);
        if (digit < 0)
            return false;
        number = number << 4 | static_cast<uint32_t>(digit);
    }
    value = number;
    return true;
}

std::string CleanUtf8(std::string_view text)
{
    std::string clean;
    clean.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        size_t length = SequenceLength(text, at);
        if (length == 0) {
            clean.push_back('?');
            ++at;
        } else {
            clean.append(text.substr(at, length));
            at += length;
        }
    }
    return clean;
}

std::string XmlCharactersOnly(std::string_view utf8)
{
    std::string kept;
    kept.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size(); ++at) {
        unsigned char c = static_cast<unsigned char>(utf8[at]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            continue;
        // U+FFFE and U+FFFF
        if (c == 0xEF && at + 2 < utf8.size() && static_cast<unsigned char>(utf8[at + 1]) == 0xBF &&
            (static_cast<unsigned char>(utf8[at + 2]) & 0xFE) == 0xBE) {
            at += 2;
            continue;
        }
        kept.push_back(static_cast<char>(c));
    }
    return kept;
}

std::string_view CutUtf8(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    while (cut > 0 && IsContinuation(static_cast<unsigned char>(text[cut])))
        --cut;
    return text.substr(0, cut);
}
