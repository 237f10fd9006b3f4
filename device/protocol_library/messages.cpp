// Messages: the request tree a caller builds and the answer it walks. Message handles carry a
// slot and a serial number, so that a freed handle is refused rather than reused; element
// handles carry the message's slot and the element's index.
#include <memory>
#include <string>
#include <vector>

#include "device/protocol_library/ansi_text.h"
#include "device/protocol_library/library_state.h"

namespace {

constexpr size_t MessageSlots = 64;
constexpr uint32_t MaxElementIndex = 0x00FFFFFE;

struct MessageSlot {
    std::unique_ptr<Message> message;
    DWORD serial = 0;
};
MessageSlot Messages[MessageSlots];
DWORD NextSerial = 1;

// ElemGetText's answer: valid until the next call.
std::string TextBuffer;

ProtocolHandle ElementHandle(size_t slot, size_t index)
{
    return static_cast<ProtocolHandle>((slot + 1) << 24 | (index + 1));
}

const AnswerElement* ElementOf(ProtocolHandle handle, const Message** owner = nullptr)
{
    size_t slot = (handle >> 24) - 1;
    size_t index = (handle & 0x00FFFFFF) - 1;
    if ((handle >> 24) == 0 || slot >= MessageSlots || (handle & 0x00FFFFFF) == 0)
        return nullptr;
    const Message* message = Messages[slot].message.get();
    if (!message || index >= message->answer.elements.size())
        return nullptr;
    if (owner)
        *owner = message;
    return &message->answer.elements[index];
}

ProtocolHandle Visit(ProtocolHandle handle, int tagFilter, bool first)
{
    Message* message = MessageOf(handle);
    if (!message)
        return 0;
    const std::vector<AnswerElement>& elements = message->answer.elements;
    size_t from = first ? 0 : message->cursor + 1;
    if (!first && message->cursor >= elements.size())
        return 0;
    for (size_t i = from; i < elements.size() && i <= MaxElementIndex; ++i) {
        if (tagFilter == AnyTag || elements[i].tag == tagFilter) {
            message->cursor = i;
            return ElementHandle((handle & 0xFF) - 1, i);
        }
    }
    message->cursor = elements.size();
    return 0;
}

}  // namespace

Message* MessageOf(ProtocolHandle handle)
{
    size_t slot = (handle & 0xFF) - 1;
    if ((handle & 0xFF) == 0 || slot >= MessageSlots)
        return nullptr;
    MessageSlot& entry = Messages[slot];
    if (!entry.message || entry.serial != (handle >> 8))
        return nullptr;
    return entry.message.get();
}

extern "C" {

ProtocolHandle WINAPI MsgCreate(const char* const* tagTable)
{
    if (!tagTable)
        return 0;
    std::vector<std::string> names;
    for (size_t i = 0; tagTable[i]; ++i) {
        if (i >= MaxTagNames)
            return 0;
        names.emplace_back(tagTable[i]);
    }
    for (size_t slot = 0; slot < MessageSlots; ++slot) {
        MessageSlot& entry = Messages[slot];
        if (entry.message)
            continue;
        auto message = std::make_unique<Message>();
        if (!message->tags.Assign(names))
            return 0;
        entry.message = std::move(message);
        entry.serial = NextSerial;
        NextSerial = NextSerial % 0xFFFFFF + 1;
        return static_cast<ProtocolHandle>(entry.serial << 8 | (slot + 1));
    }
    return 0;
}

void WINAPI MsgFree(ProtocolHandle handle)
{
    if (MessageOf(handle))
        Messages[(handle & 0xFF) - 1].message.reset();
}

int WINAPI MsgInit(ProtocolHandle handle)
{
    Message* message = MessageOf(handle);
    if (!message)
        return 0;
    message->request.Clear();
    message->answer.Clear();
    message->cursor = 0;
    return 1;
}

int WINAPI MsgSetMode(ProtocolHandle handle, int mode)
{
    Message* message = MessageOf(handle);
    if (!message || mode != MessageModeXmlRequest)
        return 0;
    message->mode = mode;
    return 1;
}

int WINAPI MsgBeginElement(ProtocolHandle handle, int tag)
{
    Message* message = MessageOf(handle);
    return message && message->request.BeginElement(message->tags, tag) ? 1 : 0;
}

int WINAPI MsgEndElement(ProtocolHandle handle)
{
    Message* message = MessageOf(handle);
    return message && message->request.EndElement() ? 1 : 0;
}

int WINAPI MsgAddText(ProtocolHandle handle, int tag, const char* text)
{
    Message* message = MessageOf(handle);
    if (!message || !text)
        return 0;
    return message->request.AddText(message->tags, tag, AnsiToUtf8(text)) ? 1 : 0;
}

int WINAPI MsgAddInt(ProtocolHandle handle, int tag, int32_t value)
{
    Message* message = MessageOf(handle);
    return message && message->request.AddInt(message->tags, tag, value) ? 1 : 0;
}

int WINAPI MsgAddId(ProtocolHandle handle, int tag, uint32_t value, int digits)
{
    Message* message = MessageOf(handle);
    return message && message->request.AddId(message->tags, tag, value, digits) ? 1 : 0;
}

ProtocolHandle WINAPI MsgFirstElement(ProtocolHandle handle, int tagFilter)
{
    return Visit(handle, tagFilter, true);
}

ProtocolHandle WINAPI MsgNextElement(ProtocolHandle handle, int tagFilter)
{
    return Visit(handle, tagFilter, false);
}

int WINAPI ElemGetTag(ProtocolHandle handle)
{
    const AnswerElement* element = ElementOf(handle);
    return element ? element->tag : -1;
}

const char* WINAPI ElemGetText(ProtocolHandle handle)
{
    const Message* message = nullptr;
    const AnswerElement* element = ElementOf(handle, &message);
    TextBuffer = element ? Utf8ToAnsi(message->answer.Text(*element)) : std::string();
    return TextBuffer.c_str();
}

int WINAPI ElemGetInt(ProtocolHandle handle, int32_t* value)
{
    const Message* message = nullptr;
    const AnswerElement* element = ElementOf(handle, &message);
    int32_t number = 0;
    bool ok = element && ParseInt(message->answer.Text(*element), number);
    if (value)
        *value = number;
    return ok ? 1 : 0;
}

int WINAPI ElemGetId(ProtocolHandle handle, uint32_t* value)
{
    const Message* message = nullptr;
    const AnswerElement* element = ElementOf(handle, &message);
    uint32_t id = 0;
    bool ok = element && ParseId(message->answer.Text(*element), id);
    if (value)
        *value = id;
    return ok ? 1 : 0;
}

}  // extern "C"
