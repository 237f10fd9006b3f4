// Device answers are hostile: parse anything, then read every element as the storage commands
// do (texts, numbers, identifiers).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/protocol_codec.h"

namespace {

TagNames MakeTags()
{
    TagNames tags;
    tags.Assign({"JOB", "COMMAND", "TYPE", "PARAM", "CODE", "ATTRIBUTE", "FOLDERID", "PASSWORD",
                 "FOLDERNAME", "FILEID", "FILENAME", "TIMESTAMP", "PAGES", "DOCUMENTID", "USERID",
                 "STATUS", "IMAGEPATH", "SUBJECT", "USERHANDLE", "DOCUMENT", "OWNER", "DOCTYPE",
                 "SERVER", "STRAGE", "XPIXEL", "YPIXEL", "XRESOLUTION", "YRESOLUTION", "PAGE",
                 "RESOLUTION", "DOCSIZE", "SCALING", "DENSITY", "ERRORCODE", "ERRORWORDING", "FILE",
                 "FOLDER", "DATASIZE", "PAGENUMBER", "ROOTNAME", "USERNAME", "USER", "PACKET", "MODE",
                 "HPIXEL", "HRESOLUTION", "SCAN", "STORAGE"});
    return tags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const TagNames tags = MakeTags();
    Answer answer;
    std::string_view body(reinterpret_cast<const char*>(data), size);
    if (ParseAnswer(body, tags, answer) != AnswerStatus::Ok) {
        if (!answer.elements.empty() || !answer.texts.empty())
            __builtin_trap();
        return 0;
    }
    int previousDepth = 0;
    for (const AnswerElement& element : answer.elements) {
        std::string_view text = answer.Text(element);
        // Every text is clean UTF-8 within the bound, every depth within the limit, and the
        // walk goes down at most one level at a time (parents before children).
        if (text.size() > MaxElementText || CleanUtf8(text) != text)
            __builtin_trap();
        if (element.depth < 1 || element.depth > static_cast<int>(MaxAnswerDepth) ||
            element.depth > previousDepth + 1)
            __builtin_trap();
        if (element.tag < -1 || element.tag >= static_cast<int>(tags.size()))
            __builtin_trap();
        previousDepth = element.depth;
        int32_t number;
        uint32_t id;
        ParseInt(text, number);
        ParseId(text, id);
    }
    return 0;
}
