#include "source/capability_negotiation.h"

#include <windows.h>

#include <cmath>
#include <cstring>

#include "source/page_sequencing.h"
#include "source/source_state.h"

namespace {

// Writes one stored value at its container item size: 16-bit types as 2 bytes, TW_FIX32
// converted, frames as four TW_FIX32, strings as at most 32 characters in their 34-byte slot.
void PackItem(TW_UINT16 itemType, const void* value, TW_UINT8* out)
{
    switch (itemType) {
    case TWTY_FIX32: {
        TW_FIX32 fix = ToFix32(*static_cast<const float*>(value));
        memcpy(out, &fix, 4);
        break;
    }
    case TWTY_FRAME: {
        const StoredFrame* frame = static_cast<const StoredFrame*>(value);
        TW_FIX32 fixes[4] = {ToFix32(frame->Left), ToFix32(frame->Top), ToFix32(frame->Right),
                             ToFix32(frame->Bottom)};
        memcpy(out, fixes, 16);
        break;
    }
    case TWTY_STR32:
    case TWTY_STR64:
    case TWTY_STR128:
    case TWTY_STR255:
        memset(out, 0, 34);
        memcpy(out, value, strnlen(static_cast<const char*>(value), 32));
        break;
    default:
        memcpy(out, value, ItemSize(itemType));
        break;
    }
}

// Writes numItems stored values one after another at their container item size.
void PackItems(TW_UINT16 itemType, TW_UINT32 numItems, const void* items, TW_UINT8* out)
{
    TW_UINT32 itemSize = ItemSize(itemType);
    const TW_UINT8* source = static_cast<const TW_UINT8*>(items);
    for (TW_UINT32 i = 0; i < numItems; ++i)
        PackItem(itemType, source + i * itemSize, out + i * itemSize);
}

// A value widened to a container's 32-bit field.
TW_UINT32 Widen(TW_UINT16 itemType, const void* value)
{
    if (itemType == TWTY_FIX32) {
        TW_FIX32 fix = ToFix32(*static_cast<const float*>(value));
        TW_UINT32 bits;
        memcpy(&bits, &fix, 4);
        return bits;
    }
    if (ItemSize(itemType) == 2)
        return *static_cast<const TW_UINT16*>(value);
    if (ItemSize(itemType) == 1)
        return *static_cast<const TW_UINT8*>(value);
    return *static_cast<const TW_UINT32*>(value);
}

// Allocates a new container; the application owns it and frees it.
TW_UINT8* OpenContainer(TW_CAPABILITY* capability, TW_UINT16 conType, SIZE_T size)
{
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (!handle)
        return nullptr;
    TW_UINT8* bytes = static_cast<TW_UINT8*>(GlobalLock(handle));
    if (!bytes) {
        GlobalFree(handle);
        return nullptr;
    }
    capability->hContainer = handle;
    capability->ConType = conType;
    return bytes;
}

// The index of the first item equal to value over the item size; ItemCount when none is.
TW_UINT32 PositionOf(const CapabilityEntry& entry, const void* value)
{
    TW_UINT32 size = ItemSize(entry.ItemType);
    const TW_UINT8* items = static_cast<const TW_UINT8*>(entry.Items);
    for (TW_UINT32 i = 0; i < entry.ItemCount; ++i)
        if (memcmp(items + i * size, value, size) == 0)
            return i;
    return entry.ItemCount;
}

TW_UINT16 AnswerGet(TW_CAPABILITY* capability, CapabilityEntry& entry)
{
    if (entry.Cap == CAP_FEEDERLOADED)
        *static_cast<TW_UINT16*>(entry.Current) = MorePagesPending() ? 1 : 0;
    switch (entry.GetContainer) {
    case TWON_ENUMERATION:
        return BuildEnumeration(capability, entry.ItemType, entry.ItemCount,
                                PositionOf(entry, entry.Current), PositionOf(entry, entry.Default),
                                entry.Items);
    case TWON_ARRAY:
        return BuildArray(capability, entry.ItemType, entry.ItemCount, entry.Items);
    case TWON_RANGE:
        return BuildRange(capability, entry.ItemType, entry.Items, entry.Default, entry.Current);
    default:
        return BuildOneValue(capability, entry.ItemType, entry.Current);
    }
}

TW_UINT16 AnswerCurrentOrDefault(TW_CAPABILITY* capability, const CapabilityEntry& entry,
                                 bool current)
{
    const void* values = current ? entry.Current : entry.Default;
    if (entry.CurrentContainer == TWON_ARRAY)
        return BuildArray(capability, entry.ItemType,
                          current ? entry.CurrentCount : entry.DefaultCount, values);
    return BuildOneValue(capability, entry.ItemType, values);
}

// A TW_ONEVALUE the application handed over, checked against its global block's real size.
TW_UINT16 SetFromOneValue(TW_CAPABILITY* capability, CapabilityEntry& entry)
{
    HGLOBAL handle = capability->hContainer;
    SIZE_T size = handle ? GlobalSize(handle) : 0;
    TW_UINT32 itemSize = ItemSize(entry.ItemType);
    SIZE_T needed = offsetof(TW_ONEVALUE, Item) + (itemSize > 4 ? itemSize : 4);
    if (size < needed)
        return TWCC_SEQERROR;
    const TW_ONEVALUE* container = static_cast<const TW_ONEVALUE*>(GlobalLock(handle));
    if (!container)
        return TWCC_SEQERROR;
    TW_UINT16 code = TWCC_SEQERROR;
    if (container->ItemType == entry.ItemType) {
        alignas(8) TW_UINT8 value[34] = {};
        ReadOneValue(container, entry.ItemType, value);
        TW_UINT32 position = PositionOf(entry, value);
        if (position < entry.ItemCount) {
            memcpy(entry.Current, value, itemSize);
            if (entry.Cap == ICAP_XRESOLUTION || entry.Cap == ICAP_YRESOLUTION)
                ResolutionChangeRequested = true;
            code = TWCC_SUCCESS;
        }
    }
    GlobalUnlock(handle);
    return code;
}

TW_UINT16 Set(TW_CAPABILITY* capability, CapabilityEntry& entry)
{
    switch (capability->ConType) {
    case TWON_ENUMERATION:
        // Nothing is stored: the application gets the current value back in a new
        // enumeration; its own container stays its own.
        return BuildEnumeration(capability, entry.ItemType, entry.CurrentCount, 0, 0,
                                entry.Current);
    case TWON_ONEVALUE:
        return SetFromOneValue(capability, entry);
    default:
        return TWCC_SEQERROR;
    }
}

TW_UINT16 Reset(TW_CAPABILITY* capability, CapabilityEntry& entry)
{
    memcpy(entry.Current, entry.Default, entry.CurrentCount * ItemSize(entry.ItemType));
    return AnswerCurrentOrDefault(capability, entry, false);
}

TW_UINT16 QuerySupport(TW_CAPABILITY* capability, const CapabilityEntry& entry)
{
    return BuildOneValue(capability, TWTY_UINT32, &entry.Supported);
}

TW_UINT32 OperationBit(TW_UINT16 message)
{
    switch (message) {
    case MSG_GET:
        return TWQC_GET;
    case MSG_GETCURRENT:
        return TWQC_GETCURRENT;
    case MSG_GETDEFAULT:
        return TWQC_GETDEFAULT;
    case MSG_SET:
        return TWQC_SET;
    case MSG_RESET:
        return TWQC_RESET;
    default:
        return 0;
    }
}

TW_UINT16 Negotiate(TW_CAPABILITY* capability, TW_UINT16 message)
{
    TW_UINT16 cap = capability->Cap;
    if (cap == ICAP_BITDEPTH)
        cap = static_cast<TW_UINT16>(BitDepthForBlackWhite + GetPixelType());
    CapabilityEntry* entry = FindCapability(cap);
    if (!entry)
        return TWCC_CAPUNSUPPORTED;
    if (message == MSG_QUERYSUPPORT)
        return QuerySupport(capability, *entry);
    TW_UINT32 bit = OperationBit(message);
    if (bit == 0)
        return TWCC_CAPUNSUPPORTED;
    if (!(entry->Supported & bit))
        return TWCC_CAPBADOPERATION;
    switch (message) {
    case MSG_GET:
        return AnswerGet(capability, *entry);
    case MSG_GETCURRENT:
        return AnswerCurrentOrDefault(capability, *entry, true);
    case MSG_GETDEFAULT:
        return AnswerCurrentOrDefault(capability, *entry, false);
    case MSG_SET:
        return Set(capability, *entry);
    default:
        return Reset(capability, *entry);
    }
}

}  // namespace

TW_FIX32 ToFix32(float value)
{
    TW_INT32 scaled = static_cast<TW_INT32>(static_cast<double>(value) * 65536.0 + 0.5);
    TW_FIX32 fix;
    fix.Whole = static_cast<TW_INT16>(scaled >> 16);
    fix.Frac = static_cast<TW_UINT16>(scaled & 0xFFFF);
    return fix;
}

float FromFix32(TW_FIX32 value)
{
    return static_cast<float>(value.Whole + value.Frac / 65536.0);
}

TW_UINT16 BuildOneValue(TW_CAPABILITY* capability, TW_UINT16 itemType, const void* value)
{
    TW_UINT32 itemSize = ItemSize(itemType);
    TW_UINT8* bytes = OpenContainer(capability, TWON_ONEVALUE, itemSize + 6);
    if (!bytes)
        return TWCC_LOWMEMORY;
    TW_ONEVALUE* container = reinterpret_cast<TW_ONEVALUE*>(bytes);
    container->ItemType = itemType;
    if (itemSize > 4)
        PackItem(itemType, value, bytes + offsetof(TW_ONEVALUE, Item));
    else
        container->Item = Widen(itemType, value);
    GlobalUnlock(capability->hContainer);
    return TWCC_SUCCESS;
}

TW_UINT16 BuildEnumeration(TW_CAPABILITY* capability, TW_UINT16 itemType, TW_UINT32 numItems,
                           TW_UINT32 currentIndex, TW_UINT32 defaultIndex, const void* items)
{
    TW_UINT32 itemSize = ItemSize(itemType);
    TW_UINT8* bytes = OpenContainer(capability, TWON_ENUMERATION, itemSize * numItems + 15);
    if (!bytes)
        return TWCC_LOWMEMORY;
    TW_ENUMERATION* container = reinterpret_cast<TW_ENUMERATION*>(bytes);
    container->ItemType = itemType;
    container->NumItems = numItems;
    container->CurrentIndex = currentIndex;
    container->DefaultIndex = defaultIndex;
    PackItems(itemType, numItems, items, bytes + offsetof(TW_ENUMERATION, ItemList));
    GlobalUnlock(capability->hContainer);
    return TWCC_SUCCESS;
}

TW_UINT16 BuildArray(TW_CAPABILITY* capability, TW_UINT16 itemType, TW_UINT32 numItems,
                     const void* items)
{
    TW_UINT32 itemSize = ItemSize(itemType);
    TW_UINT8* bytes = OpenContainer(capability, TWON_ARRAY, itemSize * numItems + 7);
    if (!bytes)
        return TWCC_LOWMEMORY;
    TW_ARRAY* container = reinterpret_cast<TW_ARRAY*>(bytes);
    container->ItemType = itemType;
    container->NumItems = numItems;
    PackItems(itemType, numItems, items, bytes + offsetof(TW_ARRAY, ItemList));
    GlobalUnlock(capability->hContainer);
    return TWCC_SUCCESS;
}

TW_UINT16 BuildRange(TW_CAPABILITY* capability, TW_UINT16 itemType, const void* items,
                     const void* defaultValue, const void* currentValue)
{
    TW_UINT8* bytes = OpenContainer(capability, TWON_RANGE, sizeof(TW_RANGE));
    if (!bytes)
        return TWCC_LOWMEMORY;
    TW_RANGE* container = reinterpret_cast<TW_RANGE*>(bytes);
    TW_UINT32 itemSize = ItemSize(itemType);
    const TW_UINT8* limits = static_cast<const TW_UINT8*>(items);
    container->ItemType = itemType;
    container->MinValue = Widen(itemType, limits);
    container->MaxValue = Widen(itemType, limits + itemSize);
    container->StepSize = Widen(itemType, limits + 2 * itemSize);
    container->DefaultValue = Widen(itemType, defaultValue);
    container->CurrentValue = Widen(itemType, currentValue);
    GlobalUnlock(capability->hContainer);
    return TWCC_SUCCESS;
}

void ReadOneValue(const TW_ONEVALUE* container, TW_UINT16 itemType, void* value)
{
    const TW_UINT8* item = reinterpret_cast<const TW_UINT8*>(container) + offsetof(TW_ONEVALUE, Item);
    switch (itemType) {
    case TWTY_FIX32: {
        TW_FIX32 fix;
        memcpy(&fix, item, 4);
        *static_cast<float*>(value) = FromFix32(fix);
        break;
    }
    case TWTY_FRAME: {
        TW_FIX32 fixes[4];
        memcpy(fixes, item, 16);
        *static_cast<StoredFrame*>(value) = {FromFix32(fixes[0]), FromFix32(fixes[1]),
                                             FromFix32(fixes[2]), FromFix32(fixes[3])};
        break;
    }
    case TWTY_STR32:
    case TWTY_STR64:
    case TWTY_STR128:
    case TWTY_STR255: {
        char* text = static_cast<char*>(value);
        memset(text, 0, 34);
        memcpy(text, item, strnlen(reinterpret_cast<const char*>(item), 33));
        break;
    }
    default: {
        TW_UINT32 whole;
        memcpy(&whole, item, 4);
        if (ItemSize(itemType) == 2) {
            TW_UINT16 low = static_cast<TW_UINT16>(whole & 0xFFFF);
            memcpy(value, &low, 2);
        } else if (ItemSize(itemType) == 1) {
            *static_cast<TW_UINT8*>(value) = static_cast<TW_UINT8>(whole);
        } else {
            memcpy(value, &whole, 4);
        }
        break;
    }
    }
}

// Never shows a box; always leaves its outcome in the condition code.
TW_UINT16 CapabilityHandler(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 message, TW_MEMREF data)
{
    TW_CAPABILITY* capability = static_cast<TW_CAPABILITY*>(data);
    if (!capability) {
        ConditionCode = TWCC_BADVALUE;
        return TWRC_FAILURE;
    }
    ConditionCode = Negotiate(capability, message);
    if (AppIdentity.ProtocolMajor <= 1 && AppIdentity.ProtocolMinor <= 5 &&
        ConditionCode > TWCC_CAPUNSUPPORTED)
        ConditionCode = TWCC_BADCAP;
    return ConditionCode == TWCC_SUCCESS ? TWRC_SUCCESS : TWRC_FAILURE;
}
