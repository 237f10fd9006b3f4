// Capability negotiation through DS_Entry with real global-memory containers, as an
// application negotiates.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "source/capability_negotiation.h"
#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/loaded_source.h"

namespace {

TW_FIX32 Fix(int whole, unsigned frac = 0)
{
    TW_FIX32 fix;
    fix.Whole = static_cast<TW_INT16>(whole);
    fix.Frac = static_cast<TW_UINT16>(frac);
    return fix;
}

bool operator==(TW_FIX32 a, TW_FIX32 b) { return a.Whole == b.Whole && a.Frac == b.Frac; }

// A capability answered by the source: the container's bytes, copied out and freed.
struct Answer {
    TW_UINT16 result = 0;
    TW_UINT16 conType = 0;
    std::vector<unsigned char> bytes;

    TW_UINT16 itemType() const { return *reinterpret_cast<const TW_UINT16*>(bytes.data()); }
    const TW_ONEVALUE& one() const { return *reinterpret_cast<const TW_ONEVALUE*>(bytes.data()); }
    const TW_ENUMERATION& enumeration() const { return *reinterpret_cast<const TW_ENUMERATION*>(bytes.data()); }
    const TW_ARRAY& array() const { return *reinterpret_cast<const TW_ARRAY*>(bytes.data()); }
    const TW_RANGE& range() const { return *reinterpret_cast<const TW_RANGE*>(bytes.data()); }
    template <typename T>
    T item(size_t offset, size_t index) const
    {
        T value;
        memcpy(&value, bytes.data() + offset + index * sizeof(T), sizeof(T));
        return value;
    }
    TW_FIX32 fixOne() const { return item<TW_FIX32>(offsetof(TW_ONEVALUE, Item), 0); }
};

class Capabilities : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(source.Load());
        ASSERT_EQ(TWRC_SUCCESS, source.Open());
    }

    Answer Ask(TW_UINT16 cap, TW_UINT16 message)
    {
        TW_CAPABILITY capability{cap, TWON_DONTCARE16, nullptr};
        Answer answer;
        answer.result = source.Call(DG_CONTROL, DAT_CAPABILITY, message, &capability);
        answer.conType = capability.ConType;
        if (capability.hContainer) {
            SIZE_T size = GlobalSize(capability.hContainer);
            const unsigned char* bytes = static_cast<unsigned char*>(GlobalLock(capability.hContainer));
            answer.bytes.assign(bytes, bytes + size);
            GlobalUnlock(capability.hContainer);
            GlobalFree(capability.hContainer);
        }
        return answer;
    }

    // MSG_SET with a one value whose item occupies size bytes.
    TW_UINT16 SetOne(TW_UINT16 cap, TW_UINT16 itemType, const void* item, size_t size)
    {
        HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, offsetof(TW_ONEVALUE, Item) + (size < 4 ? 4 : size));
        auto* container = static_cast<TW_ONEVALUE*>(GlobalLock(handle));
        container->ItemType = itemType;
        memcpy(reinterpret_cast<unsigned char*>(container) + offsetof(TW_ONEVALUE, Item), item, size);
        GlobalUnlock(handle);
        TW_CAPABILITY capability{cap, TWON_ONEVALUE, handle};
        TW_UINT16 result = source.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
        EXPECT_EQ(handle, capability.hContainer);
        GlobalFree(handle);
        return result;
    }
    TW_UINT16 SetFix(TW_UINT16 cap, TW_FIX32 value) { return SetOne(cap, TWTY_FIX32, &value, 4); }
    TW_UINT16 Set16(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value) { return SetOne(cap, itemType, &value, 4); }

    LoadedSource source;
};

}  // namespace

TEST_F(Capabilities, ResolutionEnumerationSetResetAndPersistenceOverReopen)
{
    Answer get = Ask(ICAP_XRESOLUTION, MSG_GET);
    ASSERT_EQ(TWRC_SUCCESS, get.result);
    ASSERT_EQ(TWON_ENUMERATION, get.conType);
    EXPECT_EQ(TWTY_FIX32, get.enumeration().ItemType);
    ASSERT_EQ(4u, get.enumeration().NumItems);
    EXPECT_EQ(0u, get.enumeration().CurrentIndex);
    EXPECT_EQ(0u, get.enumeration().DefaultIndex);
    const int dpi[] = {200, 300, 400, 600};
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(get.item<TW_FIX32>(offsetof(TW_ENUMERATION, ItemList), i) == Fix(dpi[i])) << i;

    EXPECT_EQ(TWRC_SUCCESS, SetFix(ICAP_XRESOLUTION, Fix(300)));
    EXPECT_EQ(TWCC_SUCCESS, source.Status());
    get = Ask(ICAP_XRESOLUTION, MSG_GET);
    EXPECT_EQ(1u, get.enumeration().CurrentIndex);
    EXPECT_EQ(0u, get.enumeration().DefaultIndex);

    // Close and open again without unloading: the value is still current.
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    EXPECT_EQ(TWRC_FAILURE, Ask(ICAP_XRESOLUTION, MSG_GET).result);
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, source.Status());
    ASSERT_EQ(TWRC_SUCCESS, source.Open());
    Answer current = Ask(ICAP_XRESOLUTION, MSG_GETCURRENT);
    ASSERT_EQ(TWON_ONEVALUE, current.conType);
    EXPECT_TRUE(current.fixOne() == Fix(300));
    EXPECT_TRUE(Ask(ICAP_XRESOLUTION, MSG_GETDEFAULT).fixOne() == Fix(200));
    EXPECT_TRUE(Ask(ICAP_YRESOLUTION, MSG_GETCURRENT).fixOne() == Fix(200));

    Answer reset = Ask(ICAP_XRESOLUTION, MSG_RESET);
    ASSERT_EQ(TWRC_SUCCESS, reset.result);
    EXPECT_EQ(TWON_ONEVALUE, reset.conType);
    EXPECT_TRUE(reset.fixOne() == Fix(200));
    EXPECT_TRUE(Ask(ICAP_XRESOLUTION, MSG_GETCURRENT).fixOne() == Fix(200));

    // A fresh load starts from the defaults.
    EXPECT_EQ(TWRC_SUCCESS, SetFix(ICAP_XRESOLUTION, Fix(400)));
    source.Unload();
    ASSERT_TRUE(source.Load());
    ASSERT_EQ(TWRC_SUCCESS, source.Open());
    EXPECT_TRUE(Ask(ICAP_XRESOLUTION, MSG_GETCURRENT).fixOne() == Fix(200));
}

TEST_F(Capabilities, SetRefusesValuesTypesAndContainersThatDoNotFit)
{
    EXPECT_EQ(TWRC_FAILURE, SetFix(ICAP_XRESOLUTION, Fix(250)));
    EXPECT_EQ(TWCC_SEQERROR, source.Status());
    EXPECT_EQ(TWRC_FAILURE, SetFix(ICAP_XRESOLUTION, Fix(300, 0x8000)));
    EXPECT_EQ(TWRC_FAILURE, Set16(ICAP_PIXELTYPE, TWTY_UINT32, TWPT_GRAY));
    EXPECT_EQ(TWCC_SEQERROR, source.Status());
    EXPECT_EQ(TWRC_SUCCESS, Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    EXPECT_EQ(TWRC_FAILURE, Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB));
    // Only the low 16 bits of the item count for 16-bit types.
    EXPECT_EQ(TWRC_SUCCESS, Set16(ICAP_PIXELTYPE, TWTY_UINT16, 0xABCD0000u | TWPT_BW));
    EXPECT_EQ(TWRC_FAILURE, Set16(CAP_FEEDERENABLED, TWTY_BOOL, 0));
    EXPECT_EQ(TWRC_SUCCESS, Set16(CAP_FEEDERENABLED, TWTY_BOOL, 1));
    // A range capability admits only its minimum, maximum and step.
    EXPECT_EQ(TWRC_FAILURE, SetFix(ICAP_BRIGHTNESS, Fix(0)));
    EXPECT_EQ(TWRC_SUCCESS, SetFix(ICAP_BRIGHTNESS, Fix(1000)));
    EXPECT_EQ(TWRC_SUCCESS, SetFix(ICAP_BRIGHTNESS, Fix(-1000)));

    char halftone[34] = "ORDERED";
    EXPECT_EQ(TWRC_SUCCESS, SetOne(ICAP_HALFTONES, TWTY_STR32, halftone, 34));
    char lower[34] = "ordered";
    EXPECT_EQ(TWRC_FAILURE, SetOne(ICAP_HALFTONES, TWTY_STR32, lower, 34));
    Answer halftones = Ask(ICAP_HALFTONES, MSG_GET);
    ASSERT_EQ(TWON_ENUMERATION, halftones.conType);
    EXPECT_EQ(2u, halftones.enumeration().NumItems);
    EXPECT_EQ(1u, halftones.enumeration().CurrentIndex);
    EXPECT_STREQ("FLOYD/STEINBURG", reinterpret_cast<const char*>(halftones.bytes.data() + 14));
    EXPECT_STREQ("ORDERED", reinterpret_cast<const char*>(halftones.bytes.data() + 14 + 34));

    // Containers other than one value and enumeration, and hostile ones.
    for (TW_UINT16 conType : {TWON_ARRAY, TWON_RANGE, TW_UINT16(0), TW_UINT16(77)}) {
        HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
        TW_CAPABILITY capability{ICAP_XRESOLUTION, conType, handle};
        EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability));
        EXPECT_EQ(TWCC_SEQERROR, source.Status());
        GlobalFree(handle);
    }
    TW_CAPABILITY noContainer{ICAP_XRESOLUTION, TWON_ONEVALUE, nullptr};
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &noContainer));
    EXPECT_EQ(TWCC_SEQERROR, source.Status());
    static char notAGlobalBlock[16];
    TW_CAPABILITY stray{ICAP_XRESOLUTION, TWON_ONEVALUE, notAGlobalBlock};
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &stray));
    // A one value too small for its item is never read past its end.
    HGLOBAL tiny = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 4);
    *static_cast<TW_UINT16*>(GlobalLock(tiny)) = TWTY_FIX32;
    GlobalUnlock(tiny);
    TW_CAPABILITY small{ICAP_XRESOLUTION, TWON_ONEVALUE, tiny};
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &small));
    GlobalFree(tiny);
    HGLOBAL shortFrame = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10);
    *static_cast<TW_UINT16*>(GlobalLock(shortFrame)) = TWTY_FRAME;
    GlobalUnlock(shortFrame);
    TW_CAPABILITY frame{ICAP_FRAMES, TWON_ONEVALUE, shortFrame};
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &frame));
    GlobalFree(shortFrame);

    BoxWatcher boxes;
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, nullptr));
    EXPECT_EQ(TWCC_BADVALUE, source.Status());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(Capabilities, SetWithAnEnumerationStoresNothingAndAnswersANewContainer)
{
    HGLOBAL mine = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
    TW_CAPABILITY capability{ICAP_XRESOLUTION, TWON_ENUMERATION, mine};
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability));
    EXPECT_EQ(TWCC_SUCCESS, source.Status());
    ASSERT_NE(mine, capability.hContainer);
    EXPECT_NE(0u, GlobalSize(mine));  // the application's own container is left to it
    auto* answer = static_cast<TW_ENUMERATION*>(GlobalLock(capability.hContainer));
    EXPECT_EQ(TWTY_FIX32, answer->ItemType);
    EXPECT_EQ(1u, answer->NumItems);
    EXPECT_EQ(0u, answer->CurrentIndex);
    EXPECT_EQ(0u, answer->DefaultIndex);
    TW_FIX32 item;
    memcpy(&item, answer->ItemList, 4);
    EXPECT_TRUE(item == Fix(200));
    GlobalUnlock(capability.hContainer);
    GlobalFree(capability.hContainer);
    GlobalFree(mine);
}

TEST_F(Capabilities, ReadOnlyCapabilitiesAndProtocolVersions)
{
    EXPECT_EQ(TWRC_FAILURE, Set16(ICAP_BITORDER, TWTY_UINT16, TWBO_MSBFIRST));
    EXPECT_EQ(TWCC_CAPBADOPERATION, source.Status());
    EXPECT_EQ(TWRC_FAILURE, Ask(ICAP_PHYSICALWIDTH, MSG_RESET).result);
    EXPECT_EQ(TWCC_CAPBADOPERATION, source.Status());

    // An application of protocol 1.5 hears TWCC_BADCAP instead; unsupported stays unsupported.
    ASSERT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    source.app.ProtocolMinor = 5;
    ASSERT_EQ(TWRC_SUCCESS, source.Open());
    EXPECT_EQ(TWRC_FAILURE, Set16(ICAP_BITORDER, TWTY_UINT16, TWBO_MSBFIRST));
    EXPECT_EQ(TWCC_BADCAP, source.Status());
    EXPECT_EQ(TWRC_FAILURE, Ask(CAP_AUTOSCAN, MSG_GET).result);
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, source.Status());
    EXPECT_EQ(TWRC_FAILURE, Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB));
    EXPECT_EQ(TWCC_SEQERROR, source.Status());
}

TEST_F(Capabilities, QuerySupportAndUnsupportedMessages)
{
    Answer physical = Ask(ICAP_PHYSICALWIDTH, MSG_QUERYSUPPORT);
    ASSERT_EQ(TWRC_SUCCESS, physical.result);
    EXPECT_EQ(TWON_ONEVALUE, physical.conType);
    EXPECT_EQ(TWTY_UINT32, physical.one().ItemType);
    EXPECT_EQ(13u, physical.one().Item);
    EXPECT_EQ(31u, Ask(ICAP_XRESOLUTION, MSG_QUERYSUPPORT).one().Item);
    for (TW_UINT16 message : {MSG_GETFIRST, MSG_GETNEXT, TW_UINT16(0x0009)}) {
        EXPECT_EQ(TWRC_FAILURE, Ask(ICAP_XRESOLUTION, message).result);
        EXPECT_EQ(TWCC_CAPUNSUPPORTED, source.Status());
    }
    // Listed as supported, but without an entry.
    EXPECT_EQ(TWRC_FAILURE, Ask(CAP_AUTOSCAN, MSG_QUERYSUPPORT).result);
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, source.Status());
}

TEST_F(Capabilities, EveryContainerTypeIsAnswered)
{
    Answer brightness = Ask(ICAP_BRIGHTNESS, MSG_GET);
    ASSERT_EQ(TWON_RANGE, brightness.conType);
    ASSERT_EQ(sizeof(TW_RANGE), brightness.bytes.size());
    const TW_RANGE& range = brightness.range();
    TW_FIX32 values[5];
    memcpy(values, &range.MinValue, sizeof values);
    EXPECT_TRUE(values[0] == Fix(-1000, 1));  // the source's own rounding of -1000
    EXPECT_TRUE(values[1] == Fix(1000));
    EXPECT_TRUE(values[2] == Fix(1000));
    EXPECT_TRUE(values[3] == Fix(0));
    EXPECT_TRUE(values[4] == Fix(0));

    Answer supported = Ask(CAP_SUPPORTEDCAPS, MSG_GET);
    ASSERT_EQ(TWON_ARRAY, supported.conType);
    ASSERT_EQ(43u, supported.array().NumItems);
    EXPECT_EQ(CAP_SUPPORTEDCAPS, supported.item<TW_UINT16>(6, 0));
    EXPECT_EQ(CAP_AUTOSCAN, supported.item<TW_UINT16>(6, 12));
    EXPECT_EQ(ICAP_BITDEPTH, supported.item<TW_UINT16>(6, 24));
    EXPECT_EQ(CAP_DUPLEXENABLED, supported.item<TW_UINT16>(6, 42));
    Answer current = Ask(CAP_SUPPORTEDCAPS, MSG_GETCURRENT);
    ASSERT_EQ(TWON_ARRAY, current.conType);
    EXPECT_EQ(supported.bytes, current.bytes);
    EXPECT_EQ(TWON_ARRAY, Ask(CAP_SUPPORTEDCAPS, MSG_GETDEFAULT).conType);

    Answer frames = Ask(ICAP_FRAMES, MSG_GET);
    ASSERT_EQ(TWON_ONEVALUE, frames.conType);
    EXPECT_EQ(TWTY_FRAME, frames.itemType());
    EXPECT_TRUE(frames.item<TW_FIX32>(2, 2) == Fix(8, 0x8000));
    EXPECT_TRUE(frames.item<TW_FIX32>(2, 3) == Fix(11));

    Answer count = Ask(CAP_XFERCOUNT, MSG_GET);
    EXPECT_EQ(TWTY_INT16, count.one().ItemType);
    EXPECT_EQ(0xFFFFu, count.one().Item);  // -1, zero-extended

    Answer width = Ask(ICAP_PHYSICALWIDTH, MSG_GET);
    EXPECT_TRUE(width.fixOne() == ToFix32(8.64f));
    EXPECT_EQ(8, width.fixOne().Whole);

    Answer mechanism = Ask(ICAP_XFERMECH, MSG_GET);
    ASSERT_EQ(TWON_ENUMERATION, mechanism.conType);
    ASSERT_EQ(3u, mechanism.enumeration().NumItems);
    EXPECT_EQ(2u, mechanism.enumeration().CurrentIndex);  // memory
    EXPECT_EQ(TWSX_FILE, mechanism.item<TW_UINT16>(offsetof(TW_ENUMERATION, ItemList), 1));
}

TEST_F(Capabilities, BitDepthFollowsThePixelTypeAndFeederLoadedFollowsThePages)
{
    EXPECT_EQ(1, Ask(ICAP_BITDEPTH, MSG_GETCURRENT).one().Item);
    EXPECT_EQ(TWRC_SUCCESS, Set16(ICAP_PIXELTYPE, TWTY_UINT16, TWPT_GRAY));
    EXPECT_EQ(8, Ask(ICAP_BITDEPTH, MSG_GETCURRENT).one().Item);
    Answer gray = Ask(ICAP_BITDEPTH, MSG_GET);
    ASSERT_EQ(TWON_ENUMERATION, gray.conType);
    EXPECT_EQ(8, gray.item<TW_UINT16>(14, 0));
    EXPECT_EQ(24, Ask(0x9002, MSG_GETCURRENT).one().Item);

    // A page is pending at load (nothing has been transferred yet).
    Answer loaded = Ask(CAP_FEEDERLOADED, MSG_GET);
    EXPECT_EQ(TWTY_BOOL, loaded.one().ItemType);
    EXPECT_EQ(1u, loaded.one().Item);
}

TEST(Fix32, ConversionsRoundAsTheContainersNeed)
{
    EXPECT_TRUE(ToFix32(200.0f) == Fix(200, 0));
    EXPECT_TRUE(ToFix32(-1000.0f) == Fix(-1000, 1));
    EXPECT_TRUE(ToFix32(8.5f) == Fix(8, 0x8000));
    EXPECT_TRUE(ToFix32(0.1f) == Fix(0, 6554));
    EXPECT_FLOAT_EQ(300.0f, FromFix32(Fix(300)));
    EXPECT_FLOAT_EQ(-0.5f, FromFix32(Fix(-1, 0x8000)));
    EXPECT_FLOAT_EQ(8.64f, FromFix32(ToFix32(8.64f)));
}
