// The storage commands against the device simulator on loopback: what goes out, what comes
// back into the tables, and what the user is shown when it goes wrong.
#include <gtest/gtest.h>

#include <windows.h>
#include <psapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/config_store.h"
#include "device/protocol_link.h"
#include "device/storage_commands.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/box_watcher.h"
#include "tests/windows/support/device_simulator.h"
#include "tests/windows/support/test_files.h"
#include "tests/windows/support/wait_window_clicker.h"

namespace {

const char* const TestRegKey = "QrvStorageTest";
const std::string VendorPath = std::string("SOFTWARE\\Vantrel\\") + TestRegKey;
const std::string CommonPath = VendorPath + "\\Common";
const char* const Caption = "Storage Test";

const char* const Connect329 = "Unable to connect the scanner.";
const char* const Download339 = "Unable to download the file.";

void SetUsers(std::initializer_list<std::pair<const char*, int>> users)
{
    UserCount = 0;
    for (const auto& [id, handle] : users) {
        UserRecord& record = UserTable[UserCount++];
        memset(&record, 0, sizeof record);
        strcpy(record.userId, id);
        record.userHandle = handle;
    }
}

class StorageCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(AttachCore(std::string("[TWAIN]\r\nDriverName=") + Caption + "\r\nRegKey=" + TestRegKey + "\r\n"));
        // The library belongs beside the module that runs the commands: here the test program.
        // Copied afresh once per run, so that a rebuilt library is the one tested; once loaded
        // it stays loaded, and its file in use.
        static bool copied = false;
        if (!copied) {
            ASSERT_TRUE(CopyInto(BinFolder() + ProtocolLibraryName, ExeFolder()));
            copied = true;
        }
        UserCount = FolderCount = DocumentCount = -1;
        UserHandle = 0;
        LogonPassword[0] = SelectedUser[0] = '\0';
        WorkDirectory[0] = CurrentDocumentPath[0] = '\0';
    }
    void TearDown() override
    {
        if (WorkDirectory[0])
            DeleteDirectoryTree(WorkDirectory);
        WorkDirectory[0] = '\0';
        WriteCoreIni("");
    }

    void PointAt(const DeviceSimulator& device)
    {
        ASSERT_TRUE(device.started());
        SetRegistryString(HKEY_CURRENT_USER, CommonPath, "Server Address", "127.0.0.1");
        SetRegistryString(HKEY_LOCAL_MACHINE, CommonPath, "HttpPort", std::to_string(device.port()));
    }
    void LogOn(int handle, const char* password = "")
    {
        UserHandle = handle;
        strcpy(LogonPassword, password);
    }
    // The boxes shown since the watcher started, as texts; each must carry the source's caption.
    std::vector<std::string> Shown()
    {
        std::vector<ShownBox> shown = boxes.Boxes();
        for (const ShownBox& box : shown)
            EXPECT_EQ(Caption, box.caption);
        boxes.Clear();
        return BoxTexts(shown);
    }
    DocumentRecord Record(uint32_t id, const char* type = "SCAN")
    {
        DocumentRecord record{};
        record.documentId = id;
        strcpy(record.documentType, type);
        snprintf(record.imagePath, sizeof record.imagePath, "/strage/%08X.tif", id);
        return record;
    }
    std::string SampleFile(uint32_t id)
    {
        char name[32];
        snprintf(name, sizeof name, "documents\\%08X.tif", id);
        return ReadFileText(SampleStorageFolder() + name);
    }

    ScopedRegistryTree userTree{HKEY_CURRENT_USER, VendorPath};
    ScopedRegistryTree machineTree{HKEY_LOCAL_MACHINE, VendorPath};
    BoxWatcher boxes;
    const std::vector<std::string> none;
};

std::string Users(int count, const char* idFormat = "%03d")
{
    std::string xml = "<storage>";
    for (int i = 1; i <= count; ++i) {
        char id[16];
        snprintf(id, sizeof id, idFormat, i);
        xml += "<user id=\"" + std::string(id) + "\" handle=\"" + std::to_string(100 + i) + "\" name=\"User " +
               std::to_string(i) + "\"/>";
    }
    return xml + "</storage>";
}

}  // namespace

TEST(FindUserHandle, MatchesTheFirstThreeBytesOfAUserEntry)
{
    SetUsers({{"001", 11}, {"002", 12}, {"ab", 13}});
    EXPECT_EQ(11, FindUserHandle("001:Alice Archer"));
    EXPECT_EQ(12, FindUserHandle("002"));
    EXPECT_EQ(12, FindUserHandle("0029"));
    EXPECT_EQ(0, FindUserHandle("00"));
    EXPECT_EQ(0, FindUserHandle("003:Carol"));
    // An id shorter than three characters matches only a text equal to it, never an entry.
    EXPECT_EQ(0, FindUserHandle("ab:Anna Berg"));
    EXPECT_EQ(13, FindUserHandle("ab"));
    EXPECT_EQ(0, FindUserHandle(nullptr));

    UserCount = 0;
    EXPECT_EQ(0, FindUserHandle("001:Alice Archer"));
    UserCount = -1;
    EXPECT_EQ(0, FindUserHandle("001:Alice Archer"));
}

TEST_F(StorageCommands, WithoutAnAddressNothingIsSentOrShown)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    SetRegistryString(HKEY_LOCAL_MACHINE, CommonPath, "HttpPort", std::to_string(device.port()));
    ASSERT_TRUE(CreateWorkDirectory());
    LogOn(1);
    FolderCount = 1;

    EXPECT_EQ(0, GetUserIds());
    EXPECT_EQ(0, ListFolders());
    EXPECT_EQ(-1, FolderCount);
    FolderCount = 1;
    EXPECT_EQ(0, ListDocuments(0));
    EXPECT_EQ(0, DeleteDocument(0x1000));
    EXPECT_EQ(0, DownloadDocument(Record(0x1000)));
    EXPECT_EQ(-1, UserCount);
    EXPECT_EQ(-1, DocumentCount);
    EXPECT_EQ(0, device.RequestCount());
    EXPECT_EQ(none, Shown());
    EXPECT_TRUE(FilesIn(WorkDirectory).empty());
}

TEST_F(StorageCommands, NobodyLoggedOnMeansNoRequestAndNoMessage)
{
    DeviceSimulator device;
    PointAt(device);
    FolderCount = 2;
    EXPECT_EQ(0, ListFolders());
    FolderCount = 2;
    EXPECT_EQ(0, ListDocuments(0));
    EXPECT_EQ(-1, DocumentCount);
    EXPECT_EQ(0, DeleteDocument(0x1000));
    EXPECT_EQ(0, device.RequestCount());
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, UserListFillsTheTableAndLogsOnTheSavedUser)
{
    DeviceSimulator device;
    PointAt(device);
    strcpy(SelectedUser, "002:Bob Baker");
    ASSERT_EQ(1, GetUserIds());
    EXPECT_EQ("== POST /upcmd.cgi\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<SERVER><COMMAND>GETUSERID</COMMAND></SERVER>\n",
              device.Requests());
    ASSERT_EQ(3, UserCount);
    EXPECT_EQ(1, UserTable[0].userHandle);
    EXPECT_STREQ("001", UserTable[0].userId);
    EXPECT_STREQ("Alice Archer", UserTable[0].userName);
    EXPECT_STREQ("Carol Chen", UserTable[2].userName);
    EXPECT_EQ(2, UserHandle);

    // A saved user the device no longer has leaves nobody logged on.
    strcpy(SelectedUser, "004:Dan");
    EXPECT_EQ(1, GetUserIds());
    EXPECT_EQ(0, UserHandle);
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, UserFieldsAreCutAndTheTableHoldsAHundred)
{
    std::string longName(45, 'n');
    CustomStorage cut("<storage><user id=\"ABCDE\" handle=\"7\" name=\"" + longName + "\"/>"
                      "<user id=\"7\" handle=\"8\" name=\"Kim\"/></storage>");
    {
        DeviceSimulator device({}, cut.unixPath());
        PointAt(device);
        strcpy(SelectedUser, "7:Kim");
        ASSERT_EQ(1, GetUserIds());
        ASSERT_EQ(2, UserCount);
        EXPECT_STREQ("ABC", UserTable[0].userId);
        EXPECT_EQ(std::string(30, 'n'), UserTable[0].userName);
        EXPECT_STREQ("7", UserTable[1].userId);
        // The entry formed from a one-character id never finds it again.
        EXPECT_EQ(0, UserHandle);
    }
    CustomStorage many(Users(120));
    DeviceSimulator device({}, many.unixPath());
    PointAt(device);
    strcpy(SelectedUser, "100:User 100");
    ASSERT_EQ(1, GetUserIds());
    EXPECT_EQ(100, UserCount);
    EXPECT_STREQ("User 100", UserTable[99].userName);
    EXPECT_EQ(200, UserHandle);
}

TEST_F(StorageCommands, NoRegisteredUserShowsItsCode)
{
    DeviceSimulator device({"--no-users"});
    PointAt(device);
    strcpy(SelectedUser, "001:Alice Archer");
    UserHandle = 1;
    EXPECT_EQ(0, GetUserIds());
    EXPECT_EQ(0, UserCount);
    EXPECT_EQ(0, UserHandle);
    EXPECT_EQ(std::vector<std::string>{"No user is registered.(Error Code:811)"}, Shown());
}

TEST_F(StorageCommands, FolderListCarriesThePasswordOnlyWhenOneWasEntered)
{
    DeviceSimulator device;
    PointAt(device);
    LogOn(1);
    ASSERT_EQ(1, ListFolders());
    EXPECT_EQ("== POST /upcmd.cgi\n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<JOB><COMMAND>LIST</COMMAND><TYPE>STRAGE</TYPE><PARAM><STRAGE><DOCTYPE>FOLDER</DOCTYPE>"
              "<OWNER>1</OWNER></STRAGE></PARAM></JOB>\n",
              device.Requests());
    ASSERT_EQ(2, FolderCount);
    EXPECT_EQ(0x100u, FolderTable[0].folderId);
    EXPECT_STREQ("Inbox", FolderTable[0].folderName);
    EXPECT_EQ(0x101u, FolderTable[1].folderId);
    EXPECT_STREQ("Scans", FolderTable[1].folderName);

    LogOn(2, "secret");
    ASSERT_EQ(1, ListFolders());
    EXPECT_NE(std::string::npos, device.Requests().find("<OWNER>2</OWNER><PASSWORD>secret</PASSWORD></STRAGE>"));
    ASSERT_EQ(1, FolderCount);
    EXPECT_STREQ("Fax", FolderTable[0].folderName);
    EXPECT_EQ(none, Shown());

    LogOn(2, "wrong");
    EXPECT_EQ(0, ListFolders());
    EXPECT_EQ(0, FolderCount);
    EXPECT_EQ(std::vector<std::string>{"Authentication failed.(Error Code:807)"}, Shown());
}

TEST_F(StorageCommands, HundredFiftyFoldersFillAHundred)
{
    DeviceSimulator device({"--extra-folders", "148"});
    PointAt(device);
    LogOn(1);
    ASSERT_EQ(1, ListFolders());
    EXPECT_EQ(100, FolderCount);
    EXPECT_STREQ("Folder 098", FolderTable[99].folderName);
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, DocumentListFillsEveryField)
{
    DeviceSimulator device;
    PointAt(device);
    LogOn(1);
    ASSERT_EQ(1, ListFolders());
    ASSERT_EQ(1, ListDocuments(1));
    EXPECT_NE(std::string::npos,
              device.Requests().find("<JOB><COMMAND>LIST</COMMAND><TYPE>STRAGE</TYPE><PARAM><STRAGE><OWNER>1</OWNER>"
                                     "<FOLDERID>00000101</FOLDERID></STRAGE></PARAM></JOB>"));
    ASSERT_EQ(3, DocumentCount);
    const DocumentRecord& folder = DocumentTable[0];
    EXPECT_STREQ("FOLDER", folder.documentType);
    EXPECT_EQ(0x102u, folder.folderId);
    EXPECT_STREQ("Archive", folder.folderName);
    EXPECT_STREQ("", folder.status);
    const DocumentRecord& document = DocumentTable[2];
    EXPECT_EQ(0x1005u, document.documentId);
    EXPECT_EQ(0x101u, document.folderId);
    EXPECT_STREQ("Scans", document.folderName);
    EXPECT_STREQ("2024/05/06 15:30:00", document.timestamp);
    EXPECT_EQ(1, document.owner);
    EXPECT_EQ(8, document.pages);
    EXPECT_STREQ("SCAN", document.documentType);
    EXPECT_STREQ("NEW", document.status);
    EXPECT_STREQ("/strage/00001005.tif", document.imagePath);
    EXPECT_STREQ("ITU pages 1-8 (JBIG)", document.subject);

    // An index the folder table does not hold asks nothing.
    int requests = device.RequestCount();
    EXPECT_EQ(0, ListDocuments(2));
    EXPECT_EQ(0, ListDocuments(-1));
    EXPECT_EQ(-1, DocumentCount);
    EXPECT_EQ(requests, device.RequestCount());
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, LongDocumentTextsAreCutToTheirFields)
{
    std::string x50(50, 'x');
    CustomStorage storage("<storage><user id=\"001\" handle=\"1\"><folder id=\"10\" name=\"" + x50 +
                          "\"><document id=\"20\" subject=\"" + x50 + "\" timestamp=\"2024/05/06 15:30:00.123456\""
                          " doctype=\"SCAN-AND-MORE-TYPE\" status=\"STATUS-TOO-LONG\" imagepath=\"/" + x50 +
                          "\"/></folder></user></storage>");
    DeviceSimulator device({}, storage.unixPath());
    PointAt(device);
    LogOn(1);
    ASSERT_EQ(1, ListFolders());
    EXPECT_EQ(std::string(40, 'x'), FolderTable[0].folderName);
    ASSERT_EQ(1, ListDocuments(0));
    const DocumentRecord& document = DocumentTable[0];
    EXPECT_EQ(std::string(40, 'x'), document.subject);
    EXPECT_EQ(std::string(40, 'x'), document.folderName);
    EXPECT_STREQ("2024/05/06 15:30:00", document.timestamp);
    EXPECT_STREQ("SCAN-AND-MORE", document.documentType);
    EXPECT_STREQ("STATUS-TOO", document.status);
    EXPECT_EQ("/" + std::string(39, 'x'), document.imagePath);
}

TEST_F(StorageCommands, MoreDocumentsThanTheTableHoldsFillIt)
{
    // Far more than the answer's markup bound holds: the bound keeps what arrived whole, and
    // the table takes what it can.
    DeviceSimulator device({"--extra-documents", "30000"});
    PointAt(device);
    LogOn(1);
    ASSERT_EQ(1, ListFolders());
    DWORD start = GetTickCount();
    ASSERT_EQ(1, ListDocuments(0));
    DWORD took = GetTickCount() - start;
    printf("listing a folder of 30004 documents into DocumentTable took %lu ms\n", took);
    EXPECT_EQ(10005, DocumentCount);
    EXPECT_EQ(0x1000u, DocumentTable[0].documentId);
    // 4 documents of the sample, then the synthetic ones.
    EXPECT_EQ(0x01000000u + 10000, DocumentTable[10004].documentId);
    EXPECT_STREQ("Document 10001", DocumentTable[10004].subject);
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, DeviceCodesShowTheirTextOrNothing)
{
    const struct {
        int code;
        const char* text;  // null: nothing shown
    } codes[] = {
        {807, "Authentication failed.(Error Code:807)"},
        {808, "The PATH does not exist.(Error Code:808)"},
        {809, "The affected document does not exist.(Error Code:809)"},
        {810, "Unable to initialize. (Error Code:810)"},
        {811, "No user is registered.(Error Code:811)"},
        {800, nullptr}, {801, nullptr}, {804, nullptr}, {805, nullptr}, {806, nullptr},
        {812, nullptr}, {816, nullptr}, {0, nullptr},   {601, nullptr},
    };
    for (const auto& c : codes) {
        DeviceSimulator device({"--code", std::to_string(c.code)});
        PointAt(device);
        LogOn(1);
        // The code comes first: the walk ends at once and the count is 0.
        EXPECT_EQ(0, ListFolders()) << c.code;
        EXPECT_EQ(0, FolderCount) << c.code;
        std::vector<std::string> expected;
        if (c.text)
            expected.push_back(c.text);
        EXPECT_EQ(expected, Shown()) << c.code;
    }
}

TEST_F(StorageCommands, RecordsBeforeAFailureCodeStayAndAnswersWithoutCodeAreWalkedToTheEnd)
{
    {
        DeviceSimulator device({"--code", "808", "--code-after", "1"});
        PointAt(device);
        LogOn(1);
        EXPECT_EQ(1, ListFolders());
        EXPECT_EQ(1, FolderCount);
        EXPECT_STREQ("Inbox", FolderTable[0].folderName);
        EXPECT_EQ(std::vector<std::string>{"The PATH does not exist.(Error Code:808)"}, Shown());
    }
    DeviceSimulator device({"--no-code"});
    PointAt(device);
    LogOn(1);
    EXPECT_EQ(1, ListFolders());
    EXPECT_EQ(2, FolderCount);
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, FailedRequestsShowUnableToConnect)
{
    DeviceSimulator device;
    PointAt(device);
    device.Stop();
    LogOn(1);
    FolderCount = 1;
    EXPECT_EQ(0, ListDocuments(0));
    EXPECT_EQ(-1, DocumentCount);
    EXPECT_EQ(std::vector<std::string>{Connect329}, Shown());

    // A failed user list still logs on whoever the saved entry names: here nobody.
    EXPECT_EQ(0, GetUserIds());
    EXPECT_EQ(-1, UserCount);
    EXPECT_EQ(0, UserHandle);
    LogOn(1);
    EXPECT_EQ(0, DeleteDocument(0x1000));
    EXPECT_EQ(std::vector<std::string>({Connect329, Connect329}), Shown());

    for (const char* fault : {"--malformed", "--drop-commands"}) {
        DeviceSimulator hostile({fault});
        PointAt(hostile);
        EXPECT_EQ(0, ListFolders()) << fault;
        EXPECT_EQ(-1, FolderCount) << fault;
        EXPECT_EQ(std::vector<std::string>{Connect329}, Shown()) << fault;
    }
}

// An answer nested far past the bound fails aloud however deep it goes: parsed whole within the
// markup bound (299,000 levels) or cut at it (a million levels, 15 MB).
TEST_F(StorageCommands, DeeplyNestedAnswersFailWithTheirMessage)
{
    for (const char* depth : {"299000", "1000000"}) {
        DeviceSimulator device({"--deep", depth});
        PointAt(device);
        EXPECT_EQ(0, GetUserIds()) << depth;
        EXPECT_EQ(-1, UserCount) << depth;
        EXPECT_EQ(std::vector<std::string>{Connect329}, Shown()) << depth;
    }
}

TEST_F(StorageCommands, CancelThroughTheWaitWindowShowsNothing)
{
    DeviceSimulator device({"--delay-ms", "3000"});
    PointAt(device);
    DWORD start = GetTickCount();
    SeenWaitWindow seen;
    {
        WaitWindowClicker clicker(100);
        EXPECT_EQ(0, GetUserIds());
        ASSERT_TRUE(clicker.WaitForClick(1000));
        seen = clicker.seen();
    }
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_EQ(Caption, seen.caption);
    EXPECT_EQ("Orvel Connecting.", seen.text);
    EXPECT_EQ("&Cancel", seen.button);
    EXPECT_EQ(-1, UserCount);
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, MissingLibraryFailsLikeAFailedConnection)
{
    DeviceSimulator device;
    PointAt(device);
    ASSERT_TRUE(CreateWorkDirectory());
    std::string library = ExeFolder() + ProtocolLibraryName;
    std::string away = library + ".away";
    ReleaseStorageLibrary();
    // A request thread of an earlier test may still hold the library; the loader would hand
    // that module out again whatever the file system says.
    for (int waited = 0; GetModuleHandleA(library.c_str()) && waited < 10000; waited += 50)
        Sleep(50);
    ASSERT_EQ(nullptr, GetModuleHandleA(library.c_str()));
    ASSERT_TRUE(MoveFileExA(library.c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING));
    int users = GetUserIds();
    int fetched = DownloadDocument(Record(0x1000));
    MoveFileExA(away.c_str(), library.c_str(), MOVEFILE_REPLACE_EXISTING);
    EXPECT_EQ(0, users);
    EXPECT_EQ(0, fetched);
    EXPECT_EQ(std::vector<std::string>({Connect329, Download339}), Shown());
    EXPECT_EQ(0, device.RequestCount());
    EXPECT_TRUE(FilesIn(WorkDirectory).empty());
}

TEST_F(StorageCommands, DeleteAnswersWhetherTheDeviceDeleted)
{
    DeviceSimulator device;
    PointAt(device);
    LogOn(1);
    ASSERT_EQ(1, ListFolders());
    EXPECT_EQ(1, DeleteDocument(0x1001));
    EXPECT_NE(std::string::npos,
              device.Requests().find("<JOB><COMMAND>DELETE</COMMAND><TYPE>STRAGE</TYPE><PARAM><STRAGE>"
                                     "<DOCUMENTID>00001001</DOCUMENTID><OWNER>1</OWNER></STRAGE></PARAM></JOB>"));
    ASSERT_EQ(1, ListDocuments(0));
    EXPECT_EQ(3, DocumentCount);
    for (int i = 0; i < DocumentCount; ++i)
        EXPECT_NE(0x1001u, DocumentTable[i].documentId);
    EXPECT_EQ(none, Shown());

    EXPECT_EQ(0, DeleteDocument(0x1001));
    EXPECT_EQ(std::vector<std::string>{"The affected document does not exist.(Error Code:809)"}, Shown());
    EXPECT_EQ(0, DeleteDocument(0x00ABCDEF));
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, FetchedDocumentIsReusedWithinTheWorkDirectory)
{
    DeviceSimulator device;
    PointAt(device);
    ASSERT_TRUE(CreateWorkDirectory());
    ASSERT_EQ(1, DownloadDocument(Record(0x1000)));
    std::string expected = WorkDirectory + std::string("00001000.tif");
    EXPECT_EQ(expected, CurrentDocumentPath);
    EXPECT_TRUE(ReadFileText(expected) == SampleFile(0x1000));
    EXPECT_EQ(std::vector<std::string>{"00001000.tif"}, FilesIn(WorkDirectory));
    EXPECT_EQ(1, device.RequestCount());

    CurrentDocumentPath[0] = '\0';
    device.Stop();
    ASSERT_EQ(1, DownloadDocument(Record(0x1000)));
    EXPECT_EQ(expected, CurrentDocumentPath);
    EXPECT_EQ(1, device.RequestCount());
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, FolderTypedRecordsAreNeverFetched)
{
    DeviceSimulator device;
    PointAt(device);
    ASSERT_TRUE(CreateWorkDirectory());
    EXPECT_EQ(0, DownloadDocument(Record(0x1000, "FOLDER")));
    EXPECT_EQ(0, DownloadDocument(Record(0x1000, "SUBFOLDERS")));
    EXPECT_EQ(0, device.RequestCount());
    EXPECT_STREQ("", CurrentDocumentPath);
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, FailedFetchShowsItsMessageAndLeavesNoFile)
{
    // A body cut short, none at all, a chunked body without its last chunk, a body in a coding
    // that was not asked for.
    const std::vector<std::vector<std::string>> faults = {
        {"--cut-files"}, {"--drop-files"}, {"--chunked-files", "--cut-files"}, {"--file-encoding", "gzip"}};
    for (const auto& fault : faults) {
        DeviceSimulator device(fault);
        PointAt(device);
        ASSERT_TRUE(CreateWorkDirectory());
        EXPECT_EQ(0, DownloadDocument(Record(0x1004))) << fault.back();
        EXPECT_EQ(std::vector<std::string>{Download339}, Shown()) << fault.back();
        EXPECT_TRUE(FilesIn(WorkDirectory).empty()) << fault.back();
        EXPECT_STREQ("", CurrentDocumentPath);
    }
    // A whole chunked body is stored: the document's own structure shows that nothing is missing.
    {
        DeviceSimulator device({"--chunked-files"});
        PointAt(device);
        ASSERT_EQ(1, DownloadDocument(Record(0x1005)));
        EXPECT_TRUE(ReadFileText(CurrentDocumentPath) == SampleFile(0x1005));
        EXPECT_EQ(none, Shown());
        DeleteFileA(CurrentDocumentPath);
    }
    // A document the device does not have.
    DeviceSimulator device;
    PointAt(device);
    EXPECT_EQ(0, DownloadDocument(Record(0x7777)));
    EXPECT_EQ(std::vector<std::string>{Download339}, Shown());
    EXPECT_TRUE(FilesIn(WorkDirectory).empty());
}

TEST_F(StorageCommands, CancelledFetchShowsNothingAndTheWorkDirectoryGoesAtOnce)
{
    // The file is under way, a piece a second, when the user cancels.
    DeviceSimulator device({"--file-pace-ms", "1000", "--file-piece", "4096"});
    PointAt(device);
    ASSERT_TRUE(CreateWorkDirectory());
    DWORD start = GetTickCount();
    {
        WaitWindowClicker clicker(400);
        EXPECT_EQ(0, DownloadDocument(Record(0x1005)));
    }
    EXPECT_LT(GetTickCount() - start, 2500u);
    EXPECT_EQ(none, Shown());
    EXPECT_TRUE(FilesIn(WorkDirectory).empty());
    // Closing the source right away leaves nothing of ours behind.
    std::string folder = WorkDirectory;
    EXPECT_NE(0, DeleteDirectoryTree(WorkDirectory));
    EXPECT_FALSE(FolderExists(folder));
    WorkDirectory[0] = '\0';
}

TEST_F(StorageCommands, FetchWithoutAWorkDirectoryFailsInsteadOfWritingElsewhere)
{
    DeviceSimulator device;
    PointAt(device);
    EXPECT_EQ(0, DownloadDocument(Record(0x1000)));
    EXPECT_EQ(std::vector<std::string>{Download339}, Shown());
    EXPECT_EQ(0, device.RequestCount());
    EXPECT_FALSE(FileExists("00001000.tif"));
}

TEST_F(StorageCommands, ControlCharactersOfThePasswordNeverReachTheRequest)
{
    DeviceSimulator device;
    PointAt(device);
    LogOn(2, "se\x01" "cr\x1B" "et");
    // Dropped, the rest is the password the device knows.
    ASSERT_EQ(1, ListFolders());
    EXPECT_NE(std::string::npos, device.Requests().find("<PASSWORD>secret</PASSWORD>"));
    EXPECT_EQ(std::string::npos, device.Requests().find("&#"));
    EXPECT_STREQ("Fax", FolderTable[0].folderName);
    EXPECT_EQ(none, Shown());
}

TEST_F(StorageCommands, AddressesAreTakenWithoutBlanksAndIPv6AsHttpWantsIt)
{
    DeviceSimulator device;
    PointAt(device);
    // The simulator refuses a Host field that HTTP/1.1 does not allow; an IPv4-mapped literal
    // still reaches it on 127.0.0.1.
    for (const char* address : {" 127.0.0.1 ", "\t127.0.0.1", "[::ffff:127.0.0.1]"}) {
        SetRegistryString(HKEY_CURRENT_USER, CommonPath, "Server Address", address);
        EXPECT_EQ(1, GetUserIds()) << address;
        EXPECT_EQ(3, UserCount) << address;
        EXPECT_EQ(none, Shown()) << address;
    }
}

TEST_F(StorageCommands, DoubleByteNamesAreCutAtACharacterBoundary)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "runs under the Japanese code page (LC_ALL=ja_JP.UTF-8)";
    // "a" and twenty double-byte characters: 41 bytes for a field of 40.
    std::string kanji;
    for (int i = 0; i < 20; ++i)
        kanji += "\xE6\x97\xA5";
    CustomStorage storage("<storage><user id=\"001\" handle=\"1\" name=\"" + kanji +
                          "\"><folder id=\"10\" name=\"a" + kanji + "\"/></user></storage>");
    DeviceSimulator device({}, storage.unixPath());
    PointAt(device);
    LogOn(1);
    ASSERT_EQ(1, ListFolders());
    std::string day = "\x93\xFA";  // the character in code page 932
    std::string expected = "a";
    for (int i = 0; i < 19; ++i)
        expected += day;
    EXPECT_EQ(expected, FolderTable[0].folderName);
    ASSERT_EQ(1, GetUserIds());
    EXPECT_EQ(30u, strlen(UserTable[0].userName));
}

TEST_F(StorageCommands, ManyRequestsKeepTheWorkingSetFlat)
{
    DeviceSimulator device;
    PointAt(device);
    auto workingSet = [] {
        PROCESS_MEMORY_COUNTERS counters{};
        counters.cb = sizeof counters;
        K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
        return counters.WorkingSetSize;
    };
    auto requests = [](int count) {
        for (int i = 0; i < count; ++i)
            if (GetUserIds() != 1)
                return false;
        return true;
    };
    ASSERT_TRUE(requests(50));
    size_t before = workingSet();
    DWORD start = GetTickCount();
    ASSERT_TRUE(requests(300));
    size_t after = workingSet();
    printf("300 user lists took %lu ms; working set %zu kB -> %zu kB\n", GetTickCount() - start, before / 1024,
           after / 1024);
    EXPECT_LT(after, before + (4u << 20));
    EXPECT_EQ(none, Shown());
}
