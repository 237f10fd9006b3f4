#include "tools/device_search/probe_answer.h"

#include <cstdlib>
#include <cstring>

namespace {

bool StartsWithIgnoringCase(const std::string& text, size_t at, const char* prefix)
{
    size_t length = strlen(prefix);
    if (text.size() - at < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char a = text[at + i], b = prefix[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z')
            b = static_cast<char>(b - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

// The Content-Length field of the header, or -1 when there is none or it is not a number.
long ContentLength(const std::string& header)
{
    for (size_t at = header.find("\r\n"); at != std::string::npos && at + 2 < header.size();
         at = header.find("\r\n", at + 2)) {
        if (!StartsWithIgnoringCase(header, at + 2, "content-length:"))
            continue;
        const char* digits = header.c_str() + at + 2 + strlen("content-length:");
        while (*digits == ' ' || *digits == '\t')
            ++digits;
        if (*digits < '0' || *digits > '9')
            return -1;
        char* end = nullptr;
        unsigned long value = strtoul(digits, &end, 10);
        return value > MaxProbeAnswer ? static_cast<long>(MaxProbeAnswer) + 1 : static_cast<long>(value);
    }
    return -1;
}

// Resolves the five predefined entities; false for any other '&' sequence.
bool Unescape(const std::string& text, std::string& out)
{
    static const struct {
        const char* entity;
        char character;
    } Entities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    out.clear();
    for (size_t at = 0; at < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[at]);
        if (c < 0x20 || c == 0x7F)
            return false;
        if (c != '&') {
            out += text[at++];
            continue;
        }
        bool known = false;
        for (const auto& entry : Entities)
            if (text.compare(at, strlen(entry.entity), entry.entity) == 0) {
                out += entry.character;
                at += strlen(entry.entity);
                known = true;
                break;
            }
        if (!known)
            return false;
    }
    return true;
}

// The text of <name>...</name> inside body, from `from` on; false when it is not there whole.
bool Element(const std::string& body, size_t from, size_t to, const std::string& name, std::string& value)
{
    std::string open = "<" + name + ">", close = "</" + name + ">";
    size_t start = body.find(open, from);
    if (start == std::string::npos || start >= to)
        return false;
    start += open.size();
    size_t end = body.find(close, start);
    if (end == std::string::npos || end > to)
        return false;
    return Unescape(body.substr(start, end - start), value);
}

}  // namespace

std::string ProbeRequest(const std::string& host, unsigned port)
{
    return "GET /devinfo.cgi HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) +
           "\r\nConnection: close\r\nUser-Agent: qrvssearch\r\n\r\n";
}

ProbeAnswer ReadProbeAnswer(const std::string& received, bool closed, std::string& name, std::string& type)
{
    if (received.size() > MaxProbeAnswer)
        return ProbeAnswer::NotDevice;
    // The status line is judged as soon as it is there, so that a stranger is let go early.
    size_t lineEnd = received.find("\r\n");
    if (lineEnd == std::string::npos)
        return closed ? ProbeAnswer::NotDevice : ProbeAnswer::Incomplete;
    std::string status = received.substr(0, lineEnd);
    if ((status.compare(0, 9, "HTTP/1.1 ") != 0 && status.compare(0, 9, "HTTP/1.0 ") != 0) ||
        status.compare(9, 3, "200") != 0 || (status.size() > 12 && status[12] != ' '))
        return ProbeAnswer::NotDevice;
    size_t headerEnd = received.find("\r\n\r\n");
    if (headerEnd == std::string::npos)
        return closed ? ProbeAnswer::NotDevice : ProbeAnswer::Incomplete;
    long length = ContentLength(received.substr(0, headerEnd + 2));
    std::string body = received.substr(headerEnd + 4);
    if (length > static_cast<long>(MaxProbeAnswer))
        return ProbeAnswer::NotDevice;
    if (length >= 0) {
        if (body.size() < static_cast<size_t>(length))
            return closed ? ProbeAnswer::NotDevice : ProbeAnswer::Incomplete;
        body.resize(static_cast<size_t>(length));
    } else if (!closed) {
        return ProbeAnswer::Incomplete;
    }
    size_t info = body.find("<DEVICEINFO>");
    size_t infoEnd = body.find("</DEVICEINFO>");
    if (info == std::string::npos || infoEnd == std::string::npos || infoEnd < info)
        return ProbeAnswer::NotDevice;
    if (!Element(body, info, infoEnd, "NAME", name) || !Element(body, info, infoEnd, "TYPE", type) || name.empty())
        return ProbeAnswer::NotDevice;
    return ProbeAnswer::Device;
}
