// The pending message: every class of id, with the box's exact text, caption, icon and owner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/message_presentation.h"
#include "source/page_sequencing.h"
#include "source/source_state.h"
#include "source/transfer_state.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/box_watcher.h"

namespace {

class MessagePresentation : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(AttachCore("[TWAIN]\r\nDriverName=Orvel Source\r\n")); }
    void TearDown() override { WriteCoreIni(""); }

    // Presents id and returns what the user saw.
    std::vector<ShownBox> Present(int id, int* result = nullptr)
    {
        BoxWatcher boxes;
        SetPendingMessage(id);
        int presented = PresentPendingMessage();
        if (result)
            *result = presented;
        EXPECT_EQ(NoPendingMessage, PendingMessageId);
        return boxes.Boxes();
    }
};

}  // namespace

TEST_F(MessagePresentation, IdsShownWithTheirOwnText)
{
    // The box belongs to no application window, not even the one the source was enabled with.
    HWND application = CreateWindowA("STATIC", "application", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50,
                                     nullptr, nullptr, nullptr, nullptr);
    ParentWindow = application;
    const struct {
        int id;
        const char* text;
    } shown[] = {
        {323, "There is not enough memory."},
        {329, "Unable to connect the scanner."},
        {339, "Unable to download the file."},
        {807, "Authentication failed.(Error Code:807)"},
        {808, "The PATH does not exist.(Error Code:808)"},
        {809, "The affected document does not exist.(Error Code:809)"},
        {810, "Unable to initialize. (Error Code:810)"},
        {811, "No user is registered.(Error Code:811)"},
        {80, "The device is busy or reported an error. Please try again later.(Error Code:80)"},
    };
    for (const auto& c : shown) {
        int result = -1;
        std::vector<ShownBox> boxes = Present(c.id, &result);
        EXPECT_EQ(0, result) << c.id;
        ASSERT_EQ(1u, boxes.size()) << c.id;
        EXPECT_EQ(c.text, boxes[0].text);
        EXPECT_EQ("Orvel Source", boxes[0].caption);
        EXPECT_EQ(nullptr, boxes[0].owner);
        EXPECT_TRUE(boxes[0].hasIcon);
        EXPECT_EQ(LoadIconA(nullptr, IDI_HAND), boxes[0].icon);
        EXPECT_EQ(IDOK, boxes[0].pressed);
    }
    ParentWindow = nullptr;
    DestroyWindow(application);
}

TEST_F(MessagePresentation, PageBuildingFailuresShowTheDownloadText)
{
    for (int id = 333; id <= 338; ++id) {
        std::vector<ShownBox> boxes = Present(id);
        ASSERT_EQ(1u, boxes.size()) << id;
        EXPECT_EQ("Unable to download the file.", boxes[0].text);
    }
}

TEST_F(MessagePresentation, SilentIdsAndSuccess)
{
    int result = -1;
    EXPECT_TRUE(Present(DeviceSuccessCode, &result).empty());
    EXPECT_EQ(1, result);
    for (int id : {330, 331, 332, 328, 600 + 1, 800, 801, 804, 805, 806, 812, 816, 0, -1, 99999}) {
        EXPECT_TRUE(Present(id, &result).empty()) << id;
        EXPECT_EQ(0, result) << id;
    }
    // Presenting twice: the second finds nothing pending.
    SetPendingMessage(329);
    {
        BoxWatcher boxes;
        PresentPendingMessage();
        EXPECT_EQ(1u, boxes.Boxes().size());
    }
    EXPECT_TRUE(Present(NoPendingMessage, &result).empty());
    EXPECT_EQ(0, result);
    // A later id replaces a pending one.
    SetPendingMessage(329);
    EXPECT_TRUE(Present(331).empty());
}

TEST_F(MessagePresentation, AbortCodeDropsTheHeldPageAndRequestsTheClose)
{
    PageSequence.PagesRemaining = 3;
    TransferState.HeldPage = GlobalAlloc(GMEM_FIXED, 16);
    TransferState.PageRowBytes = 216;
    CloseRequested = false;
    int result = -1;
    EXPECT_TRUE(Present(AbortTransferCode, &result).empty());
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, PageSequence.PagesRemaining);
    EXPECT_EQ(nullptr, TransferState.HeldPage);
    EXPECT_EQ(0u, TransferState.PageRowBytes);
    EXPECT_TRUE(CloseRequested);
}

TEST_F(MessagePresentation, CaptionIsEmptyWithoutDriverName)
{
    // The module is attached; a later INI without DriverName leaves the caption empty.
    WriteCoreIni("[TWAIN]\r\nRegKey=x\r\n");
    std::vector<ShownBox> boxes = Present(329);
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("", boxes[0].caption);
    EXPECT_EQ("Unable to connect the scanner.", boxes[0].text);
}
