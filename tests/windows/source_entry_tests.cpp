// qrvkbx.ds loaded as a manager loads it and driven through DS_Entry: loading and refusal to
// load, identity, dispatch and its refusals, the condition-code rules and the error box.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/loaded_source.h"
#include "tests/windows/support/process_figures.h"

namespace {

std::string Ini(const std::string& driverName)
{
    return "[TWAIN]\r\nDriverName=" + driverName + "\r\n";
}

TW_IDENTITY GetIdentity(LoadedSource& source)
{
    TW_IDENTITY identity;
    memset(&identity, 0xCC, sizeof identity);
    EXPECT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity));
    return identity;
}

}  // namespace

TEST(ModuleLoad, ReportsItsIdentity)
{
    LoadedSource source;
    ASSERT_TRUE(source.Load());
    TW_IDENTITY identity = GetIdentity(source);
    EXPECT_EQ(0u, identity.Id);
    EXPECT_EQ(1, identity.Version.MajorNum);
    EXPECT_EQ(0, identity.Version.MinorNum);
    EXPECT_EQ(TWLG_JAPANESE, identity.Version.Language);
    EXPECT_EQ(TWCY_JAPAN, identity.Version.Country);
    EXPECT_STREQ("Version 1.3.9", identity.Version.Info);
    EXPECT_EQ(1, identity.ProtocolMajor);
    EXPECT_EQ(6, identity.ProtocolMinor);
    EXPECT_EQ(DG_CONTROL | DG_IMAGE, identity.SupportedGroups);
    EXPECT_STREQ("VANTREL WORKS,LTD.", identity.Manufacturer);
    EXPECT_STREQ("TWAIN", identity.ProductFamily);
    EXPECT_STREQ("Test Orvel Source", identity.ProductName);
}

TEST(ModuleLoad, ProductNameTakesTheFirst33CharactersOfDriverName)
{
    std::string longName(100, 'n');
    longName[0] = 'A';
    LoadedSource source({Ini(longName), true});
    ASSERT_TRUE(source.Load());
    EXPECT_EQ(longName.substr(0, 33), GetIdentity(source).ProductName);
}

TEST(ModuleLoad, LoaderFailsWithoutIniFileOrDriverName)
{
    BoxWatcher boxes;
    LoadedSource noIni({"", true});
    EXPECT_FALSE(noIni.Load());
    LoadedSource emptyName({Ini(""), true});
    EXPECT_FALSE(emptyName.Load());
    LoadedSource otherKeysOnly({"[TWAIN]\r\nRegKey=Orvel\r\n", true});
    EXPECT_FALSE(otherKeysOnly.Load());
    LoadedSource otherSection({"[OTHER]\r\nDriverName=x\r\n", true});
    EXPECT_FALSE(otherSection.Load());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(ModuleLoad, LoadAskUnloadLoadBehavesTheSameEachTime)
{
    LoadedSource source;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(source.Load()) << round;
        TW_IDENTITY identity = GetIdentity(source);
        EXPECT_EQ(0u, identity.Id) << round;
        EXPECT_STREQ("Test Orvel Source", identity.ProductName);
        EXPECT_EQ(TWRC_SUCCESS, source.Open()) << round;
        EXPECT_EQ(21u, GetIdentity(source).Id);
        EXPECT_EQ(TWCC_SUCCESS, source.Status());
        source.Unload();
    }
}

// A manager that unloads the source at every close loads it again at every open, all day long:
// nothing may stay behind. What used to, in the runtime linked into the module: its exception
// buffer (about 72 kB a load on x64, 19 kB on x86) and, on x86, a thread-local storage slot and
// two handles a load, which left the application without slots after about a thousand scans.
TEST(ModuleLoad, LoadingAndFreeingLeavesNothingBehind)
{
    LoadedSource source;
    auto cycle = [&source] {
        if (!source.Load())
            return false;
        bool opened = source.Open() == TWRC_SUCCESS;
        TW_IDENTITY identity = source.app;
        bool closed = source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &identity) == TWRC_SUCCESS;
        source.Unload();
        return opened && closed;
    };
    // The first cycles settle what the process keeps once (the system's own libraries).
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(cycle());
    ProcessFigures before = Figures();
    const int cycles = 40;
    for (int i = 0; i < cycles; ++i)
        ASSERT_TRUE(cycle()) << "cycle " << i;
    ProcessFigures after = Figures();
    PrintFigures("load/open/close/free cycles of the source", cycles, before, after);
    EXPECT_EQ(before.tlsSlots, after.tlsSlots);
    EXPECT_LE(after.handles, before.handles + 2);
    EXPECT_LE(after.threads, before.threads);
    EXPECT_LT(after.committedKb - before.committedKb, 6.0 * cycles);
}

TEST(ResourceModule, TextsComeFromTheResourceModuleWhenItIsBesideTheSource)
{
    LoadedSource source({Ini("Res"), false});
    ASSERT_TRUE(CopyInto(TestDataFolder() + "test_qrvkbxr.dll", source.folder().path(), "qrvkbxr.dll"));
    ASSERT_TRUE(source.Load());
    TW_IDENTITY identity = GetIdentity(source);
    EXPECT_STREQ("Version 9.9.9 (resource)", identity.Version.Info);
    EXPECT_STREQ("Resource maker", identity.Manufacturer);
    EXPECT_STREQ("Resource family", identity.ProductFamily);

    BoxWatcher boxes;
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("Application error (resource module).", boxes.Boxes()[0].text);
    EXPECT_EQ("Res", boxes.Boxes()[0].caption);
}

TEST(ResourceModule, WithoutTheResourceModuleEveryTextComesFromTheSource)
{
    LoadedSource source({Ini("Alone"), false});
    ASSERT_TRUE(source.Load());
    TW_IDENTITY identity = GetIdentity(source);
    EXPECT_STREQ("Version 1.3.9", identity.Version.Info);
    EXPECT_STREQ("VANTREL WORKS,LTD.", identity.Manufacturer);

    BoxWatcher boxes;
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("Application error.", boxes.Boxes()[0].text);
    EXPECT_EQ("Alone", boxes.Boxes()[0].caption);
}

TEST(ApplicationError, BoxIsCaptionedWithTheWholeDriverNameAndHasNoOwnerBeforeEnabling)
{
    std::string name = "A data source name longer than thirty-three characters";
    LoadedSource source({Ini(name), true});
    ASSERT_TRUE(source.Load());
    BoxWatcher boxes;
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, nullptr));
    EXPECT_EQ(TWCC_BADPROTOCOL, source.Status());
    ASSERT_EQ(1u, boxes.Boxes().size());
    EXPECT_EQ("Application error.", boxes.Boxes()[0].text);
    EXPECT_EQ(name, boxes.Boxes()[0].caption);
    EXPECT_EQ(nullptr, boxes.Boxes()[0].owner);
    EXPECT_EQ(IDOK, boxes.Boxes()[0].pressed);
}

TEST(Dispatch, UnknownGroupsAndArgumentTypesFailWithBadProtocolAndNoBox)
{
    LoadedSource source;
    ASSERT_TRUE(source.Load());
    ASSERT_EQ(TWRC_SUCCESS, source.Open());
    BoxWatcher boxes;
    struct Case {
        TW_UINT32 group;
        TW_UINT16 argumentType;
        TW_UINT16 message;
    } cases[] = {
        {DG_AUDIO, DAT_IDENTITY, MSG_GET},
        {0, DAT_STATUS, MSG_GET},
        {8, DAT_IDENTITY, MSG_GET},
        {DG_CONTROL | DG_IMAGE, DAT_IDENTITY, MSG_GET},
        {DG_CONTROL, DAT_EVENT, MSG_GET},
        {DG_CONTROL, DAT_NULL, MSG_XFERREADY},
        {DG_CONTROL, DAT_PARENT, MSG_OPENDSM},
        {DG_CONTROL, 0x000B, MSG_GET},
        {DG_CONTROL, DAT_IMAGEINFO, MSG_GET},
        {DG_IMAGE, DAT_IDENTITY, MSG_GET},
        {DG_IMAGE, DAT_STATUS, MSG_GET},
        {DG_IMAGE, 0x010B, MSG_GET},
    };
    for (const Case& c : cases) {
        TW_IDENTITY scratch{};
        EXPECT_EQ(TWRC_FAILURE, source.Call(c.group, c.argumentType, c.message, &scratch))
            << c.group << "/" << c.argumentType;
        EXPECT_EQ(TWCC_BADPROTOCOL, source.Status()) << c.group << "/" << c.argumentType;
    }
    EXPECT_TRUE(boxes.Boxes().empty());
}

// A message that is not the source's comes back with TWMessage MSG_NULL.
TEST(Dispatch, ProcessEventIsRecognisedByItsMessageAloneAndNotServedWithoutWindow)
{
    LoadedSource source;
    ASSERT_TRUE(source.Load());
    ASSERT_EQ(TWRC_SUCCESS, source.Open());
    MSG message{};
    message.message = WM_KEYDOWN;
    message.wParam = VK_RETURN;
    for (TW_UINT32 group : {DG_CONTROL, DG_IMAGE, DG_AUDIO, TW_UINT32{0}}) {
        TW_EVENT event{&message, 0x4242};
        EXPECT_EQ(TWRC_NOTDSEVENT, source.Call(group, DAT_EVENT, MSG_PROCESSEVENT, &event));
        EXPECT_EQ(MSG_NULL, event.TWMessage);
        EXPECT_EQ(TWRC_NOTDSEVENT, source.Call(group, DAT_CAPABILITY, MSG_PROCESSEVENT, &event));
    }
    // Event processing neither sets nor resets the condition code.
    source.Call(DG_AUDIO, DAT_NULL, MSG_GET, nullptr);
    TW_EVENT event{&message, 0};
    source.Call(DG_IMAGE, DAT_EVENT, MSG_PROCESSEVENT, &event);
    EXPECT_EQ(TWCC_BADPROTOCOL, source.Status());
    EXPECT_EQ(TWRC_NOTDSEVENT, source.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr));
}

TEST(ConditionCode, StatusReadsTheCodeOnceAndOnlyControlCallsKeepIt)
{
    LoadedSource source;
    ASSERT_TRUE(source.Load());
    BoxWatcher boxes;

    // A refusal's code survives a later successful DG_CONTROL call...
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    TW_IDENTITY identity;
    EXPECT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity));
    EXPECT_EQ(TWCC_SEQERROR, source.Status());
    // ...and is read once.
    EXPECT_EQ(TWCC_SUCCESS, source.Status());

    // A DG_IMAGE call resets it before its handler runs.
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    TW_JPEGCOMPRESSION jpeg{};
    EXPECT_EQ(TWRC_SUCCESS, source.Call(DG_IMAGE, DAT_JPEGCOMPRESSION, MSG_GET, &jpeg));
    EXPECT_EQ(TWCC_SUCCESS, source.Status());
    EXPECT_EQ(2u, boxes.Boxes().size());
}

TEST(Identity, OpeningTwiceIsRefusedAndTheLogIsDeletedBothTimes)
{
    LoadedSource source;
    ASSERT_TRUE(source.Load());
    BoxWatcher boxes;
    WriteFileText("c:\\twsrc.log", "old log");
    EXPECT_EQ(TWRC_SUCCESS, source.Open());
    EXPECT_FALSE(FileExists("c:\\twsrc.log"));
    WriteFileText("c:\\twsrc.log", "old log");
    EXPECT_EQ(TWRC_FAILURE, source.Open());
    EXPECT_EQ(TWCC_SEQERROR, source.Status());
    EXPECT_FALSE(FileExists("c:\\twsrc.log"));
    EXPECT_EQ(std::vector<std::string>{"Application error."}, BoxTexts(boxes.Boxes()));
}

TEST(Identity, CloseReturnsToStateThreeAndForgetsTheApplication)
{
    LoadedSource source;
    ASSERT_TRUE(source.Load());
    ASSERT_EQ(TWRC_SUCCESS, source.Open());
    EXPECT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    // Another application may now open it.
    source.app.Id = 99;
    EXPECT_EQ(TWRC_SUCCESS, source.Open());
}

TEST(OriginCheck, CallsFromAnotherApplicationAreNeitherServedNorChangeState)
{
    LoadedSource source;
    ASSERT_TRUE(source.Load());
    ASSERT_EQ(TWRC_SUCCESS, source.Open());
    BoxWatcher boxes;
    EXPECT_EQ(TWRC_FAILURE, source.Open());  // already open: TWCC_SEQERROR stays pending
    boxes.Clear();

    TW_IDENTITY stranger = source.app;
    stranger.Id = source.app.Id + 1;
    TW_STATUS status{0xFFFF, 0xFFFF};
    // Not served: the stranger's DAT_STATUS neither reads nor resets the application's code.
    EXPECT_EQ(TWRC_FAILURE, source.CallFrom(&stranger, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(0xFFFF, status.ConditionCode);
    // Not allowed to change state: closing and resetting the code have no effect.
    EXPECT_EQ(TWRC_FAILURE, source.CallFrom(&stranger, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    TW_JPEGCOMPRESSION jpeg{};
    EXPECT_EQ(TWRC_FAILURE, source.CallFrom(&stranger, DG_IMAGE, DAT_JPEGCOMPRESSION, MSG_GET, &jpeg));
    EXPECT_EQ(TWRC_FAILURE, source.CallFrom(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
    EXPECT_TRUE(boxes.Boxes().empty());

    EXPECT_EQ(TWCC_SEQERROR, source.Status());
    EXPECT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr));
}

TEST(Refusals, MissingDataIsRefusedWithBadValueNotRead)
{
    LoadedSource source;
    ASSERT_TRUE(source.Load());
    BoxWatcher boxes;
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, nullptr));
    EXPECT_EQ(TWCC_BADVALUE, source.Status());
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, nullptr));
    EXPECT_EQ(TWCC_BADVALUE, source.Status());
    EXPECT_EQ(TWRC_FAILURE, source.Call(DG_CONTROL, DAT_STATUS, MSG_GET, nullptr));
    TW_STATUS status{};
    EXPECT_EQ(TWRC_SUCCESS, source.Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(TWCC_BADVALUE, status.ConditionCode);
    EXPECT_EQ(3u, boxes.Boxes().size());
}
