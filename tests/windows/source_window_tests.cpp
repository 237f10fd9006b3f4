// The source window end to end: the real qrvkbx.ds, opened by the project's manager for
// twacquire, connects to the device simulator on loopback, and twacquire's window script works
// the window as a person would. Each test is one flow through many steps; each keeps a picture
// of the display beside the test executable.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/config_store.h"
#include "tests/windows/support/device_simulator.h"
#include "tests/windows/support/twain_tools.h"

namespace {

const char* const DriverName = "Window Orvel";

struct WindowSize {
    int width = 0, height = 0, left = 0, top = 0;
    RECT work{};  // the work area the window lies in
};

// The "script: window W x H at X,Y in work area L,T to R,B" lines, in order. (The work area is
// measured by twacquire: this process never touches the display.)
std::vector<WindowSize> Sizes(const std::string& output)
{
    std::vector<WindowSize> sizes;
    for (const std::string& line : Lines(output)) {
        WindowSize size;
        if (sscanf(line.c_str(), "script: window %d x %d at %d,%d in work area %ld,%ld to %ld,%ld", &size.width,
                   &size.height, &size.left, &size.top, &size.work.left, &size.work.top, &size.work.right,
                   &size.work.bottom) == 8)
            sizes.push_back(size);
    }
    return sizes;
}

std::string TestName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

class SourceWindowFlow : public ::testing::Test {
protected:
    SourceWindowFlow()
        : regKey_("QrvWindow" + TestName()),
          userTree_(HKEY_CURRENT_USER, "SOFTWARE\\Vantrel\\" + regKey_),
          machineTree_(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vantrel\\" + regKey_)
    {
    }

    // The real source with its INI file; extra lines go into section "TWAIN".
    void Install(const std::string& extraIni = "")
    {
        std::string folder = sources.AddRealSource("orvel", DriverName);
        WriteFileText(folder + "qrvcofig.ini",
                      std::string("[TWAIN]\r\nDriverName=") + DriverName + "\r\nRegKey=" + regKey_ + "\r\n" + extraIni);
    }
    std::string CommonPath() const { return "SOFTWARE\\Vantrel\\" + regKey_ + "\\Common"; }
    std::string DeviceListPath() const { return "Software\\Vantrel\\" + regKey_ + "\\Common\\Server"; }
    std::string SettingsPath() const { return "SOFTWARE\\Vantrel\\" + regKey_ + "\\TWAIN\\Sylvane"; }

    void SetAddress(const std::string& address) { SetRegistryString(HKEY_CURRENT_USER, CommonPath(), "Server Address", address); }
    void SetPort(int port) { SetRegistryString(HKEY_LOCAL_MACHINE, CommonPath(), "HttpPort", std::to_string(port)); }

    // The saved options with a logon, as "&Save" would leave them (page range "Current page"
    // unless another is given).
    void SaveLogon(const std::string& user, const std::string& password, int pageRangeChoice = 1019)
    {
        StorageSettingsRecord record{};
        record.resolutionChoice = 1024;
        record.pageRangeChoice = pageRangeChoice;
        record.pixelTypeChoice = 1013;
        record.sortColumn = 1;
        strncpy(record.selectedUser, user.c_str(), sizeof record.selectedUser - 1);
        uint8_t plain[sizeof record.password] = {};
        memcpy(plain, password.c_str(), std::min(password.size(), sizeof plain));
        for (size_t i = 0; i < sizeof plain; ++i)
            record.password[i] = uint8_t(~plain[i]);
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, SettingsPath().c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegSetValueExA(key, "SB Mode", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&record), sizeof record);
        RegCloseKey(key);
    }

    bool ReadSettings(StorageSettingsRecord& record)
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        DWORD size = sizeof record;
        bool read = RegQueryValueExA(key, "SB Mode", nullptr, nullptr, reinterpret_cast<BYTE*>(&record), &size) ==
                        ERROR_SUCCESS &&
                    size == sizeof record;
        RegCloseKey(key);
        return read;
    }

    // Every value under the saved options' key, by name.
    std::vector<std::pair<std::string, std::string>> SettingsValues()
    {
        std::vector<std::pair<std::string, std::string>> values;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SettingsPath().c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return values;
        for (DWORD i = 0;; ++i) {
            char name[256];
            BYTE data[8192];
            DWORD nameSize = sizeof name, dataSize = sizeof data;
            if (RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, data, &dataSize) != ERROR_SUCCESS)
                break;
            values.emplace_back(name, std::string(reinterpret_cast<char*>(data), dataSize));
        }
        RegCloseKey(key);
        return values;
    }
    void SetSettingsValue(const char* name, const std::string& bytes)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SettingsPath().c_str(), 0, KEY_ALL_ACCESS, &key));
        RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
        RegCloseKey(key);
    }

    // The script line that keeps a picture of the display as this test's artefact.
    std::string Snapshot(const std::string& step = "")
    {
        return "snapshot \"" + UnixPath(ExeFolder()) + "source_window_" + TestName() + step + ".png\"\n";
    }

    ProgramRun Acquire(const std::string& script)
    {
        WriteFileText(work / "script.txt", script);
        std::string out = work.path().substr(0, work.path().size() - 1);
        ProgramRun run = RunAcquire(std::string("--source \"") + DriverName + "\" --timeout 120 --script \"" +
                                        work / "script.txt" + "\" --out \"" + out + "\"",
                                    work.path(), 180000);
        EXPECT_TRUE(run.finished) << run.output;
        EXPECT_EQ(0, Count(run.output, "script: line")) << run.output;
        EXPECT_EQ(0, Count(run.output, "Application error.")) << run.output;
        return run;
    }

    SourceFolder sources;
    TempFolder work{"qwin"};

private:
    std::string regKey_;
    ScopedRegistryTree userTree_;
    ScopedRegistryTree machineTree_;
};

// The source window, known by its tab control (the wait window of a request has the same caption).
const char* const WaitForWindow = "wait-dialog 1071 60000\n";

}  // namespace

// A saved logon connects without a dialog; the folders, sub-folders and documents show with
// their columns; every column sorts both ways; the information tab shrinks the window around
// its page and the browser tab brings the size back, the top-left corner staying put.
TEST_F(SourceWindowFlow, SavedLogonShowsFoldersAndDocumentsSortsAndSwitchesTabs)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "");

    ProgramRun run = Acquire(std::string(WaitForWindow) +
                             "tree 1000\n"
                             "list 1001\n"
                             "state 1031\n"
                             "size\n"
                             "click-column 1001 0\nsleep 300\nlist 1001\n"
                             "click-column 1001 0\nsleep 300\nlist 1001\n"
                             "click-column 1001 2\nsleep 300\nlist 1001\n"
                             "click-column 1001 2\nsleep 300\nlist 1001\n"
                             "click-column 1001 1\nsleep 300\nlist 1001\n"
                             "state 1031\n"
                             "select-folder 1000 Scans\n"
                             "tree 1000\nlist 1001\n" +
                             Snapshot() +
                             "click-column 1001 1\nsleep 300\nlist 1001\n"
                             "click-item 1001 2\nsleep 500\n"
                             "tree 1000\nlist 1001\n"
                             "click-tab 1071 1\nsleep 500\n"
                             "size\n"
                             "state 1053\nstate 1054\nstate 1055\n" +
                             Snapshot("_information") +
                             "click-tab 1071 0\nsleep 500\n"
                             "size\n"
                             "click 2\n");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    // No logon or settings dialog was needed.
    EXPECT_EQ(0, Count(run.output, "script: box")) << run.output;
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: folder Inbox [selected]",
        "script: folder Scans",
        "script: list 1001: 4 rows, columns Subject | Time | Pages",
        // Time, newest first, is the saved sort.
        "script: row 0: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "script: row 1: ITU page 4 (T.6) | 2024/05/03 11:45:00 | 1",
        "script: row 2: ITU pages 2-3 (T.4 2-D) | 2024/05/02 10:30:00 | 2",
        "script: row 3: ITU page 1 (T.4 1-D) | 2024/05/01 09:15:00 | 1",
        "script: control 1031 disabled visible \"&Save\"",
        // Subject: the greater text first, then the other way.
        "script: row 0: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "script: row 1: ITU pages 2-3 (T.4 2-D) | 2024/05/02 10:30:00 | 2",
        "script: row 2: ITU page 4 (T.6) | 2024/05/03 11:45:00 | 1",
        "script: row 3: ITU page 1 (T.4 1-D) | 2024/05/01 09:15:00 | 1",
        "script: row 0: ITU page 1 (T.4 1-D) | 2024/05/01 09:15:00 | 1",
        "script: row 1: ITU page 4 (T.6) | 2024/05/03 11:45:00 | 1",
        "script: row 2: ITU pages 2-3 (T.4 2-D) | 2024/05/02 10:30:00 | 2",
        "script: row 3: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        // Pages: more pages first, ties by the document id; then the other way.
        "script: row 0: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "script: row 1: ITU pages 2-3 (T.4 2-D) | 2024/05/02 10:30:00 | 2",
        "script: row 2: ITU page 1 (T.4 1-D) | 2024/05/01 09:15:00 | 1",
        "script: row 3: ITU page 4 (T.6) | 2024/05/03 11:45:00 | 1",
        "script: row 0: ITU page 4 (T.6) | 2024/05/03 11:45:00 | 1",
        "script: row 1: ITU page 1 (T.4 1-D) | 2024/05/01 09:15:00 | 1",
        "script: row 2: ITU pages 2-3 (T.4 2-D) | 2024/05/02 10:30:00 | 2",
        "script: row 3: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        // Time again: a column other than the sort column sorts in the normal order.
        "script: row 0: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "script: row 3: ITU page 1 (T.4 1-D) | 2024/05/01 09:15:00 | 1",
        "script: control 1031 enabled visible \"&Save\"",
        // A folder record becomes a sub-folder in the tree and a list item without pages,
        // folders before documents.
        "script: folder Inbox",
        "script: folder Scans [selected]",
        "script: folder   Archive",
        "script: list 1001: 3 rows, columns Subject | Time | Pages",
        "script: row 0: Archive | 2024/04/30 18:00:00 | ",
        "script: row 1: ITU pages 1-8 (JBIG) | 2024/05/06 15:30:00 | 8",
        "script: row 2: ITU page 1 (T.4 1-D, standard) | 2024/05/05 14:15:00 | 1",
        // Reversed: everything the other way, folders last.
        "script: row 0: ITU page 1 (T.4 1-D, standard) | 2024/05/05 14:15:00 | 1",
        "script: row 1: ITU pages 1-8 (JBIG) | 2024/05/06 15:30:00 | 8",
        "script: row 2: Archive | 2024/04/30 18:00:00 | ",
        // A click on the folder item opens that folder.
        "script: folder   Archive [selected]",
        "script: list 1001: 1 rows, columns Subject | Time | Pages",
        "script: row 0: ITU page 7 (T.6, standard) | 2024/05/07 16:45:00 | 1",
        "script: control 1053 enabled visible \"Window Orvel\"",
        "script: control 1054 enabled visible \"Version 1.3.9\"",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source disabled",
        "source closed",
    }));
    // The sub-folder was added once, though its folder was listed twice.
    EXPECT_EQ(1, Count(run.output, "script: folder   Archive [selected]"));
    std::vector<WindowSize> sizes = Sizes(run.output);
    ASSERT_EQ(3u, sizes.size()) << run.output;
    EXPECT_LT(sizes[1].width, sizes[0].width);
    EXPECT_LT(sizes[1].height, sizes[0].height);
    EXPECT_EQ(sizes[0].width, sizes[2].width);
    EXPECT_EQ(sizes[0].height, sizes[2].height);
    for (const WindowSize& size : sizes) {
        EXPECT_EQ(sizes[0].left, size.left);
        EXPECT_EQ(sizes[0].top, size.top);
    }
}

// A saved logon with a wrong password: the device's 807 is shown, then the logon dialog opens
// with the saved user and an empty password, and the right password connects. "Select &user"
// switches users, a confirmed logon enables "&Save", which stores the logon with the password
// inverted; a failed switch cancelled in the dialog brings the previous user back.
TEST_F(SourceWindowFlow, WrongPasswordThenRightOneAndSwitchingUsers)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("002:Bob Baker", "wrong");

    ProgramRun run = Acquire("answer-box 1 60000\n"
                             "wait-dialog 1038\n"
                             "state 0\nstate 1038\nstate 1036\n"
                             "settext 1036 secret\n"
                             "click 1\n" +
                             std::string(WaitForWindow) +
                             "tree 1000\nlist 1001\n"
                             "state 1031\n"
                             // Another user: Alice, without a password.
                             "click 1002\n"
                             "wait-dialog 1038\n"
                             "select 1038 0\n"
                             "settext 1036 \"\"\n"
                             "click 1\n"
                             "wait-dialog 1071\n"
                             "sleep 500\n"
                             "tree 1000\nlist 1001\n"
                             "state 1031\n"
                             "click 1031\nsleep 300\nstate 1031\n" +
                             Snapshot() +
                             // Bob with a wrong password, then Cancel: Alice comes back.
                             "click 1002\n"
                             "wait-dialog 1038\n"
                             "select 1038 1\n"
                             "settext 1036 nope\n"
                             "click 1\n"
                             "answer-box 1\n"
                             "wait-dialog 1038\n"
                             "state 1038\n"
                             "click 2\n"
                             "wait-dialog 1071\n"
                             "sleep 500\n"
                             "tree 1000\n"
                             "click 2\n");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: box [Window Orvel] Authentication failed.(Error Code:807) (owner: none) -> 1",
        "script: control 0 enabled visible \"Logon\"",
        "script: control 1038 enabled visible \"002:Bob Baker\"",
        "script: control 1036 enabled visible \"\"",  // a saved password is never shown
        "script: folder Fax [selected]",
        "script: row 0: ITU page 3 (T.4 2-D) | 2024/05/09 09:10:00 | 1",
        "script: row 1: ITU page 2 (JBIG, standard) | 2024/05/08 08:00:00 | 1",
        "script: control 1031 enabled visible \"&Save\"",
        "script: folder Inbox [selected]",
        "script: folder Scans",
        "script: list 1001: 4 rows, columns Subject | Time | Pages",
        "script: control 1031 enabled visible \"&Save\"",
        "script: control 1031 disabled visible \"&Save\"",
        "script: box [Window Orvel] Authentication failed.(Error Code:807) (owner: none) -> 1",
        "script: control 1038 enabled visible \"002:Bob Baker\"",
        "script: folder Inbox [selected]",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source closed",
    }));
    EXPECT_EQ(2, Count(run.output, "script: box")) << run.output;
    // The saved logon: Alice, the empty password stored inverted.
    StorageSettingsRecord record{};
    ASSERT_TRUE(ReadSettings(record));
    EXPECT_STREQ("001:Alice Archer", record.selectedUser);
    for (uint8_t byte : record.password)
        EXPECT_EQ(0xFF, byte);
    // Bob's listing with the wrong password went out twice (saved, then typed), with the right
    // one once.
    std::string requests = device.Requests();
    EXPECT_EQ(1, Count(requests, "<PASSWORD>wrong</PASSWORD>"));
    EXPECT_EQ(1, Count(requests, "<PASSWORD>nope</PASSWORD>"));
    EXPECT_LE(1, Count(requests, "<PASSWORD>secret</PASSWORD>"));
}

// The saved password across versions of the record: a record saved the old way (the password
// inverted in it) logs on and is rewritten at the next save with the password protected beside
// it, neither plain nor inverted anywhere under the key; the protected password logs on by
// itself; a protected value this user cannot unprotect counts as no saved password, so the
// device refuses the logon and the dialog asks; "Defaul&t" leaves no protected value behind.
TEST_F(SourceWindowFlow, SavedPasswordIsProtectedAndAnUnreadableOneAsksAgain)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("002:Bob Baker", "secret");
    const std::string connected = std::string(WaitForWindow) + "tree 1000\n";

    ProgramRun old = Acquire(connected + "click 1014\nsleep 200\nclick 1031\nsleep 300\nstate 1031\nclick 2\n");
    EXPECT_EQ(0u, old.exitCode) << old.output;
    EXPECT_TRUE(LinesInOrder(old.output, {"script: folder Fax [selected]",
                                          "script: control 1031 disabled visible \"&Save\"", "source closed"}))
        << old.output;
    EXPECT_EQ(0, Count(old.output, "script: box")) << old.output;
    StorageSettingsRecord record{};
    ASSERT_TRUE(ReadSettings(record));
    EXPECT_STREQ("002:Bob Baker", record.selectedUser);
    EXPECT_EQ(1014, record.pixelTypeChoice);
    for (uint8_t byte : record.password)
        EXPECT_EQ(0xFF, byte);  // the empty password: an older copy of the source asks for it
    std::string inverted = "secret";
    for (char& c : inverted)
        c = char(~c);
    std::vector<std::pair<std::string, std::string>> values = SettingsValues();
    ASSERT_EQ(2u, values.size());
    for (const auto& [name, bytes] : values) {
        EXPECT_EQ(std::string::npos, bytes.find("secret")) << name;
        EXPECT_EQ(std::string::npos, bytes.find(inverted)) << name;
    }
    bool protectedValue = false;
    for (const auto& value : values)
        protectedValue = protectedValue || (value.first == ProtectedPasswordValue && value.second.size() > 6);
    EXPECT_TRUE(protectedValue);
    int withPassword = Count(device.Requests(), "<PASSWORD>secret</PASSWORD>");
    EXPECT_LE(1, withPassword);

    // Reopened: the protected password logs on without a dialog.
    ProgramRun reopened = Acquire(connected + "click 2\n");
    EXPECT_TRUE(LinesInOrder(reopened.output, {"script: folder Fax [selected]", "source closed"})) << reopened.output;
    EXPECT_EQ(0, Count(reopened.output, "script: box")) << reopened.output;
    EXPECT_LT(withPassword, Count(device.Requests(), "<PASSWORD>secret</PASSWORD>"));

    // Protected for something else (as another user's or another machine's would be): no saved
    // password. The request goes without one, the device refuses, and the logon dialog asks.
    DATA_BLOB plain{6, reinterpret_cast<BYTE*>(const_cast<char*>("secret"))};
    DATA_BLOB other{};
    ASSERT_TRUE(CryptProtectData(&plain, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &other));
    SetSettingsValue(ProtectedPasswordValue, std::string(reinterpret_cast<char*>(other.pbData), other.cbData));
    LocalFree(other.pbData);
    ProgramRun unreadable = Acquire("answer-box 1 60000\n"
                                    "wait-dialog 1038\n"
                                    "state 1038\nstate 1036\n"
                                    "settext 1036 secret\n"
                                    "click 1\n" +
                                    connected +
                                    "click 1032\n"
                                    "wait-dialog 1038\n"
                                    "click 2\n");
    EXPECT_EQ(0u, unreadable.exitCode) << unreadable.output;
    EXPECT_TRUE(LinesInOrder(unreadable.output, {
        "script: box [Window Orvel] Authentication failed.(Error Code:807) (owner: none) -> 1",
        "script: control 1038 enabled visible \"002:Bob Baker\"",
        "script: control 1036 enabled visible \"\"",
        "script: folder Fax [selected]",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source closed",
    })) << unreadable.output;
    EXPECT_EQ(1, Count(unreadable.output, "script: box")) << unreadable.output;
    // Bob's one request without a password: the folder list that the device refused.
    EXPECT_EQ(1, Count(device.Requests(), "<OWNER>2</OWNER></STRAGE>"));
    // "Defaul&t" empties the logon: nothing of the password is left under the key.
    values = SettingsValues();
    ASSERT_EQ(1u, values.size());
    EXPECT_EQ("SB Mode", values[0].first);
}

// No address: the settings dialog opens; "&Search" (the search tool is not installed here, so it
// cannot start) opens the device list filled from the registry; the chosen device's address is
// stored with OK. With no saved logon the logon dialog follows. "Sele&ct Orvel" later drops the
// saved logon and connects again.
TEST_F(SourceWindowFlow, NoAddressSettingsDeviceListThenAnotherDevice)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install();
    SetPort(device.port());
    SaveLogon("003:Carol Chen", "");
    // Type "1" is offered; type "2" is not; the fourth entry has no address and ends the list.
    const std::pair<const char*, const char*> values[] = {
        {"1t", "1"}, {"1", "127.0.0.1"}, {"1n", "Orvel Simulator"},
        {"2t", "2"}, {"2", "127.0.0.2"}, {"2n", "Other kind"},
        {"3t", "1"}, {"3", "127.0.0.3"}, {"3n", "Second Orvel"},
        {"4t", "1"}, {"4n", "No address"},
        {"5t", "1"}, {"5", "127.0.0.5"}, {"5n", "After the gap"},
    };
    for (const auto& value : values)
        SetRegistryString(HKEY_CURRENT_USER, DeviceListPath(), value.first, value.second);
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, DeviceListPath().c_str(), 0, KEY_WRITE, &key));
    DWORD count = 5;
    RegSetValueExA(key, "Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
    RegCloseKey(key);

    ProgramRun run = Acquire("wait-dialog 1050 60000\n"
                             "state 0\nstate 1050\nstate 1065\n"
                             "click 1039\n"
                             "wait-dialog 1047\n"
                             "state 0\n"
                             "list 1047\n" +
                             Snapshot("_device_list") +
                             "select 1047 0\n"
                             "click 1049\n"
                             "wait-dialog 1050\n"
                             "state 1050\n"
                             "click 1\n"
                             // Carol's saved logon connects at once.
                             + std::string(WaitForWindow) +
                             "tree 1000\nlist 1001\n"
                             // Another device (the same one): the saved logon is dropped, so the
                             // logon dialog asks.
                             "click 1037\n"
                             "wait-dialog 1050\n"
                             "state 1050\n"
                             "click 1\n"
                             "wait-dialog 1038\n"
                             "state 1038\n"
                             "select 1038 0\n"
                             "click 1\n"
                             "wait-dialog 1071\n"
                             "sleep 500\n"
                             "tree 1000\nlist 1001\n" +
                             Snapshot() +
                             "click 2\n");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: control 0 enabled visible \"Orvel setting\"",
        "script: control 1050 enabled visible \"\"",
        "script: control 1065 enabled visible \"Ex.(192.168.1.10)\"",
        "script: control 0 enabled visible \"Orvel select\"",
        "script: list 1047: 2 rows, columns IP Address | Apparatus name",
        "script: row 0: 127.0.0.1 | Orvel Simulator",
        "script: row 1: 127.0.0.3 | Second Orvel",
        "script: control 1050 enabled visible \"127.0.0.1\"",
        "script: folder Empty [selected]",
        "script: list 1001: 0 rows, columns Subject | Time | Pages",
        "script: control 1050 enabled visible \"127.0.0.1\"",
        // No saved user any more: the first entry is preselected.
        "script: control 1038 enabled visible \"001:Alice Archer\"",
        "script: folder Inbox [selected]",
        "script: list 1001: 4 rows, columns Subject | Time | Pages",
        "source closed",
    }));
    EXPECT_EQ(0, Count(run.output, "script: box")) << run.output;
    std::string address;
    ASSERT_TRUE(GetRegistryString(HKEY_CURRENT_USER, CommonPath(), "Server Address", address));
    EXPECT_EQ("127.0.0.1", address);
    StorageSettingsRecord record{};
    ASSERT_TRUE(ReadSettings(record));
    EXPECT_STREQ("", record.selectedUser);
}

// "&Search" with the search tool installed beside the source, as the packages install it: the
// tool probes the loopback addresses the INI file names, replaces the registry list, and the
// device list shows the devices that answered; the one chosen connects.
TEST_F(SourceWindowFlow, SearchButtonFindsTheDevicesOnLoopback)
{
    DeviceSimulator first({"--host", "127.0.0.2"});
    ASSERT_TRUE(first.started());
    std::string port = std::to_string(first.port());
    DeviceSimulator second({"--host", "127.0.0.3", "--port", port});
    ASSERT_TRUE(second.started());
    std::string folder = sources.AddRealSource("orvel", DriverName);
    ASSERT_TRUE(CopyInto(BinFolder() + "qrvssearch.exe", folder));
    Install("[Search]\r\nTargets=127.0.0.2-127.0.0.4\r\nPort=" + port + "\r\n");
    SetPort(first.port());
    SaveLogon("001:Alice Archer", "");
    // A list from an earlier search, which this one replaces.
    SetRegistryString(HKEY_CURRENT_USER, DeviceListPath(), "1t", "1");
    SetRegistryString(HKEY_CURRENT_USER, DeviceListPath(), "1", "127.0.0.9");
    SetRegistryString(HKEY_CURRENT_USER, DeviceListPath(), "1n", "Gone");

    ProgramRun run = Acquire("wait-dialog 1050 60000\n"
                             "click 1039\n"
                             "wait-dialog 1047 30000\n"
                             "list 1047\n" +
                             Snapshot("_found") +
                             "select 1047 1\n"
                             "click 1049\n"
                             "wait-dialog 1050\n"
                             "state 1050\n"
                             "click 1\n" +
                             std::string(WaitForWindow) +
                             "tree 1000\n"
                             "click 2\n");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: list 1047: 2 rows, columns IP Address | Apparatus name",
        "script: row 0: 127.0.0.2 | Orvel Simulator",
        "script: row 1: 127.0.0.3 | Orvel Simulator",
        "script: control 1050 enabled visible \"127.0.0.3\"",
        "script: folder Inbox [selected]",
        "source closed",
    }));
    EXPECT_EQ(0, Count(run.output, "script: box")) << run.output;
    EXPECT_NE(std::string::npos, second.Requests().find("GETUSERID")) << "the chosen device was never asked";
}

// Every cancelled connection ends in the close request and the window is never shown: the
// settings dialog without an address, the logon dialog without a saved logon, and a device
// that refuses the connection (its message, then the settings dialog, cancelled).
TEST_F(SourceWindowFlow, CancelledConnectionsEndInTheCloseRequest)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install();
    SetPort(device.port());

    ProgramRun settings = Acquire("wait-dialog 1050 60000\n"
                                  "click 2\n");
    EXPECT_TRUE(LinesInOrder(settings.output, {"the source asks to be closed (MSG_CLOSEDSREQ)", "source disabled",
                                               "source closed"}));

    SetAddress("127.0.0.1");
    ProgramRun logon = Acquire("wait-dialog 1038 60000\n" + Snapshot("_logon") + "click 2\n");
    EXPECT_TRUE(LinesInOrder(logon.output, {"the source asks to be closed (MSG_CLOSEDSREQ)", "source disabled",
                                            "source closed"}));

    device.Stop();
    ProgramRun refused = Acquire("answer-box 1 60000\n"
                                 "wait-dialog 1050\n"
                                 "click 2\n");
    EXPECT_TRUE(LinesInOrder(refused.output, {
        "script: box [Window Orvel] Unable to connect the scanner. (owner: none) -> 1",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source disabled",
        "source closed",
    }));
    for (const ProgramRun* run : {&settings, &logon, &refused}) {
        EXPECT_EQ(0u, run->exitCode) << run->output;
        // The source window itself never appeared.
        EXPECT_EQ(0, Count(run->output, "script: list")) << run->output;
    }
}

// Deleting: one document with the question answered No, then Yes; two documents at once, No
// then Yes; the context menu's "&Delete", greyed for a folder. The simulator's storage is
// listed again at the end.
TEST_F(SourceWindowFlow, DeletesOneAndSeveralDocumentsAfterAsking)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "");
    const std::string deleteKey = "post 1001 0x100 0x2E 0\n";  // WM_KEYDOWN VK_DELETE

    ProgramRun run = Acquire(std::string(WaitForWindow) +
                             "click-item 1001 0\nwait-text 1011 \"1728x2376 (200x200dpi)\" 30000\n" + deleteKey +
                             "answer-box 7\n"
                             "list 1001\n" + deleteKey +
                             "answer-box 6\n"
                             "sleep 500\nlist 1001\n"
                             // A click shows the document, fetching it: the second click waits for that.
                             "click-item 1001 0\nwait-text 1011 \"1728x2376 (200x200dpi)\" 30000\n"
                             "click-item 1001 2 ctrl\nsleep 300\n" + deleteKey +
                             "answer-box 7\n"
                             "list 1001\n" + deleteKey +
                             "answer-box 6\n"
                             "sleep 500\nlist 1001\n"
                             "select-folder 1000 Scans\nsleep 300\n"
                             "list 1001\n"
                             "click-item 1001 0 right\n"
                             "menu cancel\n"
                             "click-item 1001 1 right\n"
                             "menu choose\n"
                             "answer-box 6\n"
                             "sleep 500\nlist 1001\n" +
                             Snapshot() +
                             "click 1009\nsleep 300\nlist 1001\n"
                             "select-folder 1000 Inbox\nsleep 300\nlist 1001\n"
                             "click 2\n");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: box [Window Orvel] Are you sure you want to delete 'ITU pages 5-8 (T.6)'? (owner: Window Orvel) -> 7",
        "script: list 1001: 4 rows, columns Subject | Time | Pages",
        "script: box [Window Orvel] Are you sure you want to delete 'ITU pages 5-8 (T.6)'? (owner: Window Orvel) -> 6",
        "script: list 1001: 3 rows, columns Subject | Time | Pages",
        "script: row 0: ITU page 4 (T.6) | 2024/05/03 11:45:00 | 1",
        "script: box [Window Orvel] Are you sure you want to delete these 2 files? (owner: Window Orvel) -> 7",
        "script: list 1001: 3 rows, columns Subject | Time | Pages",
        "script: box [Window Orvel] Are you sure you want to delete these 2 files? (owner: Window Orvel) -> 6",
        "script: list 1001: 1 rows, columns Subject | Time | Pages",
        "script: row 0: ITU pages 2-3 (T.4 2-D) | 2024/05/02 10:30:00 | 2",
        "script: row 0: Archive | 2024/04/30 18:00:00 | ",
        "script: menu entry 40004 \"&Delete\" [greyed]",
        "script: menu entry 40004 \"&Delete\"",
        "script: box [Window Orvel] Are you sure you want to delete 'ITU pages 1-8 (JBIG)'? (owner: Window Orvel) -> 6",
        "script: list 1001: 2 rows, columns Subject | Time | Pages",
        "script: row 1: ITU page 1 (T.4 1-D, standard) | 2024/05/05 14:15:00 | 1",
        "script: list 1001: 2 rows, columns Subject | Time | Pages",
        "script: list 1001: 1 rows, columns Subject | Time | Pages",
        "script: row 0: ITU pages 2-3 (T.4 2-D) | 2024/05/02 10:30:00 | 2",
        "source closed",
    }));
    std::string requests = device.Requests();
    EXPECT_EQ(4, Count(requests, "<COMMAND>DELETE</COMMAND>")) << requests;
    for (const char* id : {"00001003", "00001002", "00001000", "00001005"})
        EXPECT_EQ(1, Count(requests, std::string("<DOCUMENTID>") + id + "</DOCUMENTID><OWNER>")) << id << requests;
}

// Hostile answers: names longer than the tables' fields, more folders than the folder table
// holds, thousands of documents, characters the code page lacks. The window shows what fits,
// sorts, and closes as usual.
TEST_F(SourceWindowFlow, OverlongNamesAndThousandsOfRowsShowWhatFits)
{
    const std::string longFolder(200, 'F');
    const std::string longSubject(300, 'S');
    CustomStorage storage(
        "<storage name=\"Orvel Simulator\" type=\"1\">\n"
        "  <user id=\"001\" handle=\"1\" name=\"Alice Archer\" password=\"\">\n"
        "    <folder id=\"00000100\" name=\"" + longFolder + "\">\n"
        "      <folder id=\"00000101\" name=\"Sub\" timestamp=\"2024/04/01 08:00:00\"/>\n"
        "      <document id=\"00002000\" subject=\"" + longSubject + "\" timestamp=\"2024/06/01 10:00:00\" pages=\"3\"/>\n"
        "      <document id=\"00002001\" subject=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\" timestamp=\"2024/06/02 10:00:00\" pages=\"1\"/>\n"
        "    </folder>\n"
        "  </user>\n"
        "</storage>\n");
    DeviceSimulator device({"--extra-folders", "150", "--extra-documents", "3000"}, storage.unixPath());
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "");

    ProgramRun run = Acquire(std::string(WaitForWindow) +
                             "tree 1000\n"
                             "list 1001\n"
                             "click-column 1001 2\nsleep 1000\n"
                             "list 1001\n" +
                             Snapshot() +
                             "click 2\n");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    const std::string folder40(40, 'F'), subject40(40, 'S');
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: folder " + folder40 + " [selected]",
        "script: folder Folder 001",
        "script: folder Folder 099",
        // By time: the folder first, then the newest documents.
        "script: list 1001: 3003 rows, columns Subject | Time | Pages",
        "script: row 0: Sub | 2024/04/01 08:00:00 | ",
        "script: row 1: ??? | 2024/06/02 10:00:00 | 1",
        "script: row 2: " + subject40 + " | 2024/06/01 10:00:00 | 3",
        // By pages: the folder first, then the most pages, ties by document id.
        "script: list 1001: 3003 rows, columns Subject | Time | Pages",
        "script: row 0: Sub | 2024/04/01 08:00:00 | ",
        "script: row 1: Document 00009 | 2024/01/01 00:00:08 | 9",
        "script: row 2: Document 00018 | 2024/01/01 00:00:17 | 9",
        "source closed",
    }));
    EXPECT_EQ(2, Count(run.output, ": " + subject40 + " | 2024/06/01 10:00:00 | 3"));
    // The folder table is full: the sub-folder is listed but gets no place in the tree.
    EXPECT_EQ(0, Count(run.output, "script: folder Folder 100")) << run.output;
    EXPECT_EQ(0, Count(run.output, "script: folder   Sub"));
    // Characters the code page lacks arrive as question marks.
    EXPECT_EQ(2, Count(run.output, ": ??? | 2024/06/02 10:00:00 | 1"));
}

// The hiding keys: without the browser page no device is asked and the window has the
// information page's size; without the information page a single tab; without both an empty
// tab control in the template's size.
TEST_F(SourceWindowFlow, HidingKeysLeaveOutTheirPages)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "");
    // TCM_GETITEMCOUNT, then the close box's command.
    const std::string tabs = "send 1071 0x1304 0 0\n";
    const std::string close = "send 0 0x0111 2 0\n";

    Install("InvisibleWEB=1\r\n");
    ProgramRun information = Acquire(std::string(WaitForWindow) + tabs + "size\nstate 1053\nstate 1055\n" +
                                     Snapshot("_information_only") + close);
    EXPECT_EQ(0, device.RequestCount());
    EXPECT_TRUE(LinesInOrder(information.output, {
        "script: answer 1",
        "script: control 1053 enabled visible \"Window Orvel\"",
        "script: control 1055 enabled visible \"Copyright (C) VANTREL WORKS,LTD.\"",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source closed",
    }));

    Install("InvisibleINFO=1\r\n");
    ProgramRun browser = Acquire(std::string(WaitForWindow) + tabs + "size\nlist 1001\n" + close);
    EXPECT_LT(0, device.RequestCount());
    EXPECT_TRUE(LinesInOrder(browser.output, {
        "script: answer 1",
        "script: list 1001: 4 rows, columns Subject | Time | Pages",
        "source closed",
    }));

    Install("InvisibleWEB=1\r\nInvisibleINFO=1\r\n");
    ProgramRun neither = Acquire(std::string(WaitForWindow) + tabs + "size\n" + close);
    EXPECT_TRUE(LinesInOrder(neither.output, {"script: answer 0", "source closed"}));

    std::vector<WindowSize> informationSize = Sizes(information.output);
    std::vector<WindowSize> browserSize = Sizes(browser.output);
    std::vector<WindowSize> templateSize = Sizes(neither.output);
    ASSERT_EQ(1u, informationSize.size());
    ASSERT_EQ(1u, browserSize.size());
    ASSERT_EQ(1u, templateSize.size());
    EXPECT_LT(informationSize[0].width, templateSize[0].width);
    EXPECT_LT(informationSize[0].height, templateSize[0].height);
    EXPECT_GT(browserSize[0].width, templateSize[0].width);
    // Each window is centred on the work area.
    for (const WindowSize& size : {informationSize[0], browserSize[0], templateSize[0]}) {
        EXPECT_NEAR((size.work.right - size.width) / 2, size.left, 1);
        EXPECT_NEAR((size.work.bottom - size.height) / 2, size.top, 1);
    }
}

// Japanese names in the device's code page (932, run under LC_ALL=ja_JP.UTF-8 by its own test
// command): folders, users and subjects show as the device named them and sort as text.
TEST_F(SourceWindowFlow, JapaneseNamesInTheCodePage)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "needs the Japanese code page (its own run sets LC_ALL=ja_JP.UTF-8)";
    auto ansi = [](const wchar_t* text) {
        char buffer[256] = "";
        WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
        return std::string(buffer);
    };
    // Folder "受信箱", user "山田", subjects "請求書" and "見積書".
    CustomStorage storage(
        "<storage name=\"Orvel Simulator\" type=\"1\">\n"
        "  <user id=\"007\" handle=\"7\" name=\"\xE5\xB1\xB1\xE7\x94\xB0\" password=\"\">\n"
        "    <folder id=\"00000700\" name=\"\xE5\x8F\x97\xE4\xBF\xA1\xE7\xAE\xB1\">\n"
        "      <document id=\"00007000\" subject=\"\xE8\xAB\x8B\xE6\xB1\x82\xE6\x9B\xB8\" timestamp=\"2024/07/01 10:00:00\" pages=\"2\"/>\n"
        "      <document id=\"00007001\" subject=\"\xE8\xA6\x8B\xE7\xA9\x8D\xE6\x9B\xB8\" timestamp=\"2024/07/02 10:00:00\" pages=\"1\"/>\n"
        "    </folder>\n"
        "  </user>\n"
        "</storage>\n");
    DeviceSimulator device({}, storage.unixPath());
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());

    ProgramRun run = Acquire("wait-dialog 1038 60000\nstate 1038\nclick 1\n" + std::string(WaitForWindow) +
                             "tree 1000\nlist 1001\n" + Snapshot() + "click 2\n");
    const std::string folder = ansi(L"\u53D7\u4FE1\u7BB1");
    const std::string invoice = ansi(L"\u8ACB\u6C42\u66F8");
    const std::string estimate = ansi(L"\u898B\u7A4D\u66F8");
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: control 1038 enabled visible \"007:" + ansi(L"\u5C71\u7530") + "\"",
        "script: folder " + folder + " [selected]",
        "script: row 0: " + estimate + " | 2024/07/02 10:00:00 | 1",
        "script: row 1: " + invoice + " | 2024/07/01 10:00:00 | 2",
        "source closed",
    })) << run.output;
}

// ---- the transfer options panel and the preview pane

namespace {

// Script lines that report whether each button is checked ("script: answer 1" or 0), in order.
std::string Checks(const std::vector<int>& ids)
{
    std::string lines;
    for (int id : ids)
        lines += "send " + std::to_string(id) + " 0x00F0 0 0\n";  // BM_GETCHECK
    return lines;
}

std::vector<std::string> Answers(const std::vector<int>& values)
{
    std::vector<std::string> lines;
    for (int value : values)
        lines.push_back("script: answer " + std::to_string(value));
    return lines;
}

std::vector<std::string> Joined(std::vector<std::string> first, const std::vector<std::string>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

void WriteSavedRecord(const std::string& path, const void* bytes, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegSetValueExA(key, "SB Mode", 0, REG_BINARY, static_cast<const BYTE*>(bytes), size);
    RegCloseKey(key);
}

// Starts a Unix program (through Wine's Z: drive); Wine does not tell when it ends.
bool StartUnix(const std::string& commandLine)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

// A PNG snapshot as a BMP, converted by ImageMagick; waits until the whole file is there.
Bitmap SnapshotBitmap(const std::string& pngWindowsPath)
{
    std::string bmp = pngWindowsPath + ".bmp";
    DeleteFileA(bmp.c_str());
    Bitmap picture;
    if (!StartUnix("Z:\\usr\\bin\\convert \"" + UnixPath(pngWindowsPath) + "\" -type TrueColor \"BMP3:" +
                   UnixPath(bmp) + "\""))
        return picture;
    for (int wait = 0; wait < 300 && !picture.ok; ++wait) {
        Sleep(100);
        picture = ReadBmp(bmp);
    }
    return picture;
}

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

// The "script: rect <id> L,T,R,B" lines, in order.
std::vector<Box> Rects(const std::string& output, int id)
{
    std::vector<Box> rects;
    std::string prefix = "script: rect " + std::to_string(id) + " %d,%d,%d,%d";
    for (const std::string& line : Lines(output)) {
        Box box;
        if (sscanf(line.c_str(), prefix.c_str(), &box.left, &box.top, &box.right, &box.bottom) == 4)
            rects.push_back(box);
    }
    return rects;
}

constexpr uint32_t PaneGrey = 0x777777;

// What a snapshot shows in the pane: its frame, and the box of everything that is not the
// pane's grey inside the frame (the drawn page).
struct PaneView {
    bool ok = false;
    bool framed = true;
    Box page;
};

PaneView ViewPane(const std::string& pngWindowsPath, const Box& pane)
{
    PaneView view;
    Bitmap picture = SnapshotBitmap(pngWindowsPath);
    if (!picture.ok || pane.right > picture.width || pane.bottom > picture.height || pane.width() < 3)
        return view;
    for (int x = pane.left; x < pane.right; ++x)
        view.framed = view.framed && picture.At(x, pane.top) == 0 && picture.At(x, pane.bottom - 1) == 0;
    for (int y = pane.top; y < pane.bottom; ++y)
        view.framed = view.framed && picture.At(pane.left, y) == 0 && picture.At(pane.right - 1, y) == 0;
    Box found{pane.right, pane.bottom, pane.left, pane.top};
    for (int y = pane.top + 1; y < pane.bottom - 1; ++y)
        for (int x = pane.left + 1; x < pane.right - 1; ++x)
            if (picture.At(x, y) != PaneGrey) {
                found.left = std::min(found.left, x);
                found.top = std::min(found.top, y);
                found.right = std::max(found.right, x + 1);
                found.bottom = std::max(found.bottom, y + 1);
            }
    view.page = found;
    view.ok = true;
    return view;
}

// The page's physical shape (pixels over dots per inch) fitted into the pane, centred, one
// pixel inside the fitted rectangle on every side.
Box ExpectedPage(const Box& pane, int width, int height, int xDpi, int yDpi)
{
    double W = pane.width(), H = pane.height();
    double scale = std::min(W / (double(width) / xDpi), H / (double(height) / yDpi));
    int w = int(double(width) / xDpi * scale), h = int(double(height) / yDpi * scale);
    int left = pane.left + (pane.width() - w) / 2, top = pane.top + (pane.height() - h) / 2;
    return {left + 1, top + 1, left + w - 1, top + h - 1};
}

::testing::AssertionResult ShowsPage(const PaneView& view, const Box& expected)
{
    if (!view.ok)
        return ::testing::AssertionFailure() << "the snapshot could not be read";
    if (!view.framed)
        return ::testing::AssertionFailure() << "the pane's black frame is broken";
    const Box& got = view.page;
    if (std::abs(got.left - expected.left) > 2 || std::abs(got.top - expected.top) > 2 ||
        std::abs(got.right - expected.right) > 2 || std::abs(got.bottom - expected.bottom) > 2)
        return ::testing::AssertionFailure() << "page drawn at " << got.left << "," << got.top << "-" << got.right
                                             << "," << got.bottom << ", expected " << expected.left << ","
                                             << expected.top << "-" << expected.right << "," << expected.bottom;
    return ::testing::AssertionSuccess();
}

}  // namespace

// Every option set, saved and shown again after the source is closed and reopened; "Save"
// enabled by each option and disabled by itself; the range edits clamped to the shown
// document and reset by another document; "Defaul&t" restores the defaults and asks for a
// logon: a wrong password is told and asked again, Cancel closes the source.
TEST_F(SourceWindowFlow, OptionsSavedRestoredClampedAndDefaulted)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install("SizeType=0\r\n");
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "");

    ProgramRun first = Acquire(std::string(WaitForWindow) +
                               Checks({1024, 1019, 1013, 1004, 1015, 1046}) +
                               "state 1022\nstate 1003\nstate 1031\n"
                               "click 1026\nsleep 200\nstate 1031\n"
                               "click 1014\nclick 1021\nsleep 200\nstate 1022\nstate 1023\n"
                               "click 1046\nclick 1005\nsleep 200\nstate 1003\n"
                               "select 1003 2\nclick 1015\n"
                               "click-column 1001 2\nsleep 300\n"
                               "click 1031\nsleep 300\nstate 1031\n" +
                               Snapshot("_saved") + "click 2\n");
    EXPECT_EQ(0u, first.exitCode) << first.output;
    EXPECT_TRUE(LinesInOrder(first.output, Joined(Answers({1, 1, 1, 1, 0, 0}), {
        "script: control 1022 disabled visible \"1\"",
        "script: control 1003 disabled visible \"A4\"",
        "script: control 1031 disabled visible \"&Save\"",
        "script: control 1031 enabled visible \"&Save\"",
        "script: control 1022 enabled visible \"1\"",
        "script: control 1023 enabled visible \"1\"",
        "script: control 1003 enabled visible \"A4\"",
        "script: control 1031 disabled visible \"&Save\"",
        "source closed",
    }))) << first.output;
    StorageSettingsRecord saved{};
    ASSERT_TRUE(ReadSettings(saved));
    EXPECT_EQ(1026, saved.resolutionChoice);
    EXPECT_EQ(1021, saved.pageRangeChoice);
    EXPECT_EQ(1014, saved.pixelTypeChoice);
    EXPECT_EQ(2, saved.sortColumn);
    EXPECT_EQ(0, saved.sortDescending);
    EXPECT_EQ(1, saved.previewOn);
    EXPECT_EQ(1, saved.deleteAfterDownload);
    EXPECT_EQ(1, saved.fixedSizeOn);
    EXPECT_EQ(2, saved.fixedSizeChoice);
    EXPECT_STREQ("001:Alice Archer", saved.selectedUser);
    for (uint8_t byte : saved.password)
        EXPECT_EQ(0xFF, byte);

    // Reopened: everything as saved, the list by pages. Then the range edits: with no document
    // on show a first page of 9 becomes 1; on the 4-page document 5 becomes 4 and drags the last
    // page along, a last page of 2 drags the first page back, 0 becomes 1; the up-down controls
    // run 1 to 4; another document resets the edits and limits them to its one page.
    // UDM_GETRANGE: the maximum in the low word, the minimum in the high word.
    const std::string range = "send 1028 0x0466 0 0\nsend 1029 0x0466 0 0\n";
    ProgramRun second = Acquire(std::string(WaitForWindow) +
                                Checks({1026, 1021, 1014, 1005, 1015, 1046}) +
                                "state 1003\nstate 1022\nstate 1031\nlist 1001\n"
                                "click-in 1022\nsleep 300\nsettext 1022 9\nclick-in 1023\nwait-text 1022 1\nstate 1022\n"
                                "click-item 1001 0\nwait-text 1011 \"1728x2376 (200x200dpi)\" 30000\nstate 1010\n" +
                                range +
                                "click-in 1022\nsleep 300\nsettext 1022 5\nclick-in 1023\nwait-text 1023 4\nstate 1022\nstate 1023\n"
                                "settext 1023 2\nclick-in 1022\nwait-text 1022 2\nstate 1022\nstate 1023\n"
                                "click-in 1023\nsleep 300\nsettext 1023 0\nclick-in 1022\nwait-text 1022 1\nstate 1022\nstate 1023\n" +
                                Snapshot("_reopened") +
                                "click-item 1001 2\nwait-text 1010 \"1 page(s)\" 30000\nstate 1022\nstate 1023\n" + range +
                                "click 1020\nwait-disabled 1023\nstate 1022\nstate 1023\n"
                                // Defaults, then a wrong password, then Cancel.
                                "click 1032\n"
                                "wait-dialog 1038\n"
                                "wait-dialog 1071\n" +
                                Checks({1024, 1019, 1013, 1004, 1015, 1046}) +
                                "state 1003\nstate 1022\n"
                                "wait-dialog 1038\n"
                                "select 1038 1\nsettext 1036 nope\nclick 1\n"
                                "answer-box 1\n"
                                "wait-dialog 1038\n"
                                "click 2\n");
    EXPECT_EQ(0u, second.exitCode) << second.output;
    EXPECT_TRUE(LinesInOrder(second.output, Joined(Answers({1, 1, 1, 1, 1, 1}), {
        "script: control 1003 enabled visible \"F4\"",
        "script: control 1022 enabled visible \"1\"",
        "script: control 1031 disabled visible \"&Save\"",
        "script: row 0: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "script: control 1022 enabled visible \"1\"",
        "script: control 1010 enabled visible \"4 page(s)\"",
        "script: answer 65540",
        "script: answer 65540",
        "script: control 1022 enabled visible \"4\"",
        "script: control 1023 enabled visible \"4\"",
        "script: control 1022 enabled visible \"2\"",
        "script: control 1023 enabled visible \"2\"",
        "script: control 1022 enabled visible \"1\"",
        "script: control 1023 enabled visible \"1\"",
        "script: control 1022 enabled visible \"1\"",
        "script: control 1023 enabled visible \"1\"",
        "script: answer 65537",
        "script: answer 65537",
        "script: control 1022 disabled visible \"1\"",
        "script: control 1023 disabled visible \"1\"",
    }))) << second.output;
    EXPECT_TRUE(LinesInOrder(second.output, Joined(Answers({1, 1, 1, 1, 0, 0}), {
        "script: control 1003 disabled visible \"A4\"",
        "script: control 1022 disabled visible \"1\"",
        "script: box [Window Orvel] Authentication failed.(Error Code:807) (owner: none) -> 1",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source closed",
    }))) << second.output;
    // The defaults are in the registry, the logon emptied.
    StorageSettingsRecord defaults{};
    ASSERT_TRUE(ReadSettings(defaults));
    EXPECT_EQ(1024, defaults.resolutionChoice);
    EXPECT_EQ(1019, defaults.pageRangeChoice);
    EXPECT_EQ(1013, defaults.pixelTypeChoice);
    EXPECT_EQ(1, defaults.sortColumn);
    EXPECT_EQ(0, defaults.previewOn + defaults.deleteAfterDownload + defaults.fixedSizeOn + defaults.fixedSizeChoice);
    EXPECT_STREQ("", defaults.selectedUser);
    for (uint8_t byte : defaults.password)
        EXPECT_EQ(0xFF, byte);
}

// The paper list of each family: the source module's entries, then the resource module's, the
// family's default paper selected; the family from "SizeType", else from the user's locale
// (a run of its own under a German locale gives A4).
TEST_F(SourceWindowFlow, PaperListOfEachFamily)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "");
    const std::vector<std::string> a4 = {
        "script: items 1003: 5",
        "script: item 0: A4 (2003) [selected]",
        "script: item 1: A5(LEF) (2004)",
        "script: item 2: F4 (2005)",
        "script: item 3: B5 (2006)",
        "script: item 4: A5 (2007)",
        "source closed",
    };
    const std::vector<std::string> letter = {
        "script: items 1003: 5",
        "script: item 0: Letter (2053) [selected]",
        "script: item 1: H.Letter(LEF) (2054)",
        "script: item 2: Legal (2055)",
        "script: item 3: Executive (2056)",
        "script: item 4: Statement (2057)",
        "source closed",
    };
    const std::string script = std::string(WaitForWindow) + "items 1003\nclick 2\n";
    char country[16] = "";
    GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, country, sizeof country);
    if (atoi(country) != 49) {
        Install("SizeType=0\r\n");
        EXPECT_TRUE(LinesInOrder(Acquire(std::string(WaitForWindow) + "items 1003\n" + Snapshot() + "click 2\n").output, a4));
        Install("SizeType=1\r\n");
        EXPECT_TRUE(LinesInOrder(Acquire(script).output, letter));
    }
    // By the locale: the United States (country 1) use Letter, Germany (49) A4.
    Install();
    if (atoi(country) == 1)
        EXPECT_TRUE(LinesInOrder(Acquire(script).output, letter));
    else if (atoi(country) == 49)
        EXPECT_TRUE(LinesInOrder(Acquire(script).output, a4));
    else
        ADD_FAILURE() << "no expectation for country " << country;
}

// The saved record is outside input: one from an earlier run is shown as saved; a truncated
// one, one full of garbage and a missing one give the defaults field by field, with a logon.
TEST_F(SourceWindowFlow, SavedRecordsFromOutsideLoadSaneValues)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    Install("SizeType=0\r\n");
    SetAddress("127.0.0.1");
    SetPort(device.port());
    const std::string panel = Checks({1024, 1027, 1019, 1020, 1013, 1014, 1004, 1005, 1015, 1046}) +
                              "state 1003\nlist 1001\n";

    // From an earlier run: 400dpi, all pages, by subject reversed, fixed size A5(LEF).
    StorageSettingsRecord earlier{};
    earlier.resolutionChoice = 1027;
    earlier.pageRangeChoice = 1020;
    earlier.pixelTypeChoice = 1013;
    earlier.sortColumn = 0;
    earlier.sortDescending = 1;
    earlier.fixedSizeOn = 1;
    earlier.fixedSizeChoice = 1;
    strcpy(earlier.selectedUser, "001:Alice Archer");
    memset(earlier.password, 0xFF, sizeof earlier.password);
    WriteSavedRecord(SettingsPath(), &earlier, sizeof earlier);
    ProgramRun saved = Acquire(std::string(WaitForWindow) + panel + "click 2\n");
    EXPECT_TRUE(LinesInOrder(saved.output, Joined(Answers({0, 1, 0, 1, 1, 0, 0, 1, 0, 0}), {
        "script: control 1003 enabled visible \"A5(LEF)\"",
        "script: row 0: ITU page 1 (T.4 1-D) | 2024/05/01 09:15:00 | 1",
        "script: row 3: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "source closed",
    }))) << saved.output;
    EXPECT_EQ(0, Count(saved.output, "script: box")) << saved.output;

    // Truncated: the first 40 bytes of that record. The defaults stand and the logon is asked.
    const std::string logon = "wait-dialog 1038 60000\nstate 1038\nclick 1\n";
    WriteSavedRecord(SettingsPath(), &earlier, 40);
    ProgramRun truncated = Acquire(logon + WaitForWindow + panel + "click 2\n");
    EXPECT_TRUE(LinesInOrder(truncated.output, Joined(Answers({1, 0, 1, 0, 1, 0, 1, 0, 0, 0}), {
        "script: control 1003 disabled visible \"A4\"",
        "script: row 0: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "source closed",
    }))) << truncated.output;

    // Garbage in every byte: choices out of range become the defaults, a sort column the list
    // does not have becomes the time, a paper the list does not have the default paper, the
    // user (without a terminator) is cut to its field and fails to log on.
    std::vector<uint8_t> garbage(sizeof(StorageSettingsRecord), 0xA5);
    WriteSavedRecord(SettingsPath(), garbage.data(), DWORD(garbage.size()));
    ProgramRun hostile = Acquire(logon + WaitForWindow + panel + "click 2\n");
    EXPECT_TRUE(LinesInOrder(hostile.output, Joined(Answers({1, 0, 1, 0, 1, 0, 1, 0, 1, 1}), {
        "script: control 1003 disabled visible \"A4\"",
        // Non-zero reverses: the oldest first.
        "script: row 0: ITU page 1 (T.4 1-D) | 2024/05/01 09:15:00 | 1",
        "script: row 3: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "source closed",
    }))) << hostile.output;

    // Missing: the defaults.
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, SettingsPath().c_str(), 0, KEY_ALL_ACCESS, &key));
    RegDeleteValueA(key, "SB Mode");
    RegCloseKey(key);
    ProgramRun missing = Acquire(logon + WaitForWindow + panel + Snapshot() + "click 2\n");
    EXPECT_TRUE(LinesInOrder(missing.output, Joined(Answers({1, 0, 1, 0, 1, 0, 1, 0, 0, 0}), {
        "script: control 1003 disabled visible \"A4\"",
        "script: row 0: ITU pages 5-8 (T.6) | 2024/05/04 13:00:00 | 4",
        "source closed",
    }))) << missing.output;
}

// The preview: a portrait page, a landscape page and a 200 x 100 dpi page each fill the pane in
// their physical proportions between grey bands; a 4-page document is stepped through to its
// limits, its file fetched once; a page 7296 pixels wide is shown; a page that cannot be decoded
// is told and leaves a grey pane and empty labels; with the preview off the pane is grey and
// the labels still describe the page; turned on again it draws the selected document.
TEST_F(SourceWindowFlow, PreviewKeepsProportionsAndStepsThroughPages)
{
    const std::string sample = SampleStorageUnix() + "/documents/";
    const std::string preview = TestDocumentsUnix() + "/preview/";
    auto document = [](const char* id, const char* subject, const char* time, int pages, const std::string& file) {
        return std::string("      <document id=\"") + id + "\" subject=\"" + subject + "\" timestamp=\"2024/08/0" +
               time + " 10:00:00\" pages=\"" + std::to_string(pages) + "\" doctype=\"SCAN\" file=\"" + file +
               "\"/>\n";
    };
    CustomStorage storage("<storage name=\"Orvel Simulator\" type=\"1\">\n"
                          "  <user id=\"001\" handle=\"1\" name=\"Alice Archer\" password=\"\">\n"
                          "    <folder id=\"00000100\" name=\"Preview\">\n" +
                          document("00003000", "Portrait", "9", 1, sample + "00001000.tif") +
                          document("00003001", "Four pages", "8", 4, sample + "00001003.tif") +
                          document("00003002", "Landscape", "7", 1, preview + "landscape.tif") +
                          document("00003003", "Standard", "6", 1, sample + "00001004.tif") +
                          document("00003004", "Wide", "5", 1, preview + "wide.tif") +
                          document("00003005", "Broken", "4", 1, preview + "lzw.tif") +
                          "    </folder>\n  </user>\n</storage>\n");
    DeviceSimulator device({}, storage.unixPath());
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "");

    const std::string labels = "state 1010\nstate 1011\nstate 1012\n";
    const std::string step = "sleep 800\nstate 1012\n";
    // Waits until the page size label describes the page: the page is drawn by then.
    auto shown = [](const std::string& size) { return "wait-text 1011 \"" + size + "\" 30000\n"; };
    ProgramRun run = Acquire(std::string(WaitForWindow) +
                             "click 1015\nsleep 200\nstate 1031\nrect 1033\n"
                             "click-item 1001 0\n" + shown("1728x2376 (200x200dpi)") + labels + Snapshot("_portrait") +
                             "click-item 1001 2\n" + shown("2376x1728 (200x200dpi)") + labels + Snapshot("_landscape") +
                             "click-item 1001 3\n" + shown("1728x1188 (200x100dpi)") + labels + Snapshot("_standard") +
                             "click-item 1001 1\nwait-text 1010 \"4 page(s)\" 30000\n" + shown("1728x2376 (200x200dpi)") +
                             labels +
                             "click 1016\n" + step + "click 1016\n" + step + "click 1016\n" + step +
                             "click 1016\n" + step + "click 1017\n" + step +
                             // Beyond the last page: the last page once the field is left; below 1: page 1.
                             "click-in 1012\nsleep 300\nsettext 1012 9\nsleep 300\nclick-in 1019\nwait-text 1012 4\n" +
                             step +
                             "click-in 1012\nsleep 300\nsettext 1012 0\nsleep 300\nclick-in 1019\nwait-text 1012 1\n" +
                             step +
                             "click 1017\n" + step + Snapshot("_four_pages") +
                             "click-item 1001 4\n" + shown("7296x2376 (200x200dpi)") + labels + Snapshot("_wide") +
                             "click-item 1001 5\nanswer-box 1 30000\nsleep 500\n" + labels + Snapshot("_broken") +
                             "click-item 1001 0\n" + shown("1728x2376 (200x200dpi)") + "click 1015\nsleep 300\n" + labels +
                             "click-item 1001 2\n" + shown("2376x1728 (200x200dpi)") + labels + Snapshot("_off") +
                             // On again with the landscape document selected: it is drawn.
                             "click 1015\nsleep 2500\n" + Snapshot("_on_again") +
                             "click 2\n");
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_TRUE(LinesInOrder(run.output, {
        "script: control 1031 enabled visible \"&Save\"",
        "script: control 1010 enabled visible \"1 page(s)\"",
        "script: control 1011 enabled visible \"1728x2376 (200x200dpi)\"",
        "script: control 1011 enabled visible \"2376x1728 (200x200dpi)\"",
        "script: control 1011 enabled visible \"1728x1188 (200x100dpi)\"",
        "script: control 1010 enabled visible \"4 page(s)\"",
        "script: control 1012 enabled visible \"1\"",
        "script: control 1012 enabled visible \"2\"",
        "script: control 1012 enabled visible \"3\"",
        "script: control 1012 enabled visible \"4\"",
        "script: control 1012 enabled visible \"4\"",
        "script: control 1012 enabled visible \"3\"",
        "script: control 1012 enabled visible \"4\"",
        "script: control 1012 enabled visible \"1\"",
        "script: control 1012 enabled visible \"1\"",
        "script: control 1011 enabled visible \"7296x2376 (200x200dpi)\"",
        // A page no decoder here knows is told as a failed fetch.
        "script: box [Window Orvel] Unable to download the file. (owner: none) -> 1",
        "script: control 1010 enabled visible \"\"",
        "script: control 1011 enabled visible \"\"",
        // Preview off: the labels stay; another document is described without a picture.
        "script: control 1011 enabled visible \"1728x2376 (200x200dpi)\"",
        "script: control 1011 enabled visible \"2376x1728 (200x200dpi)\"",
        "source closed",
    })) << run.output;
    EXPECT_EQ(1, Count(run.output, "script: box")) << run.output;
    // The 4-page document was fetched once for all its pages.
    EXPECT_EQ(1, Count(device.Requests(), "/strage/00003001.tif")) << device.Requests();

    std::vector<Box> panes = Rects(run.output, 1033);
    ASSERT_EQ(1u, panes.size()) << run.output;
    const Box& pane = panes[0];
    auto picture = [&](const std::string& step) { return ExeFolder() + "source_window_" + TestName() + step + ".png"; };
    Box portrait = ExpectedPage(pane, 1728, 2376, 200, 200);
    Box landscape = ExpectedPage(pane, 2376, 1728, 200, 200);
    EXPECT_LT(portrait.width(), portrait.height());
    EXPECT_GT(landscape.width(), landscape.height());
    EXPECT_TRUE(ShowsPage(ViewPane(picture("_portrait"), pane), portrait));
    EXPECT_TRUE(ShowsPage(ViewPane(picture("_landscape"), pane), landscape));
    // Half the rows at half the vertical resolution: the same shape as the portrait page.
    EXPECT_TRUE(ShowsPage(ViewPane(picture("_standard"), pane), portrait));
    EXPECT_TRUE(ShowsPage(ViewPane(picture("_four_pages"), pane), portrait));
    EXPECT_TRUE(ShowsPage(ViewPane(picture("_wide"), pane), ExpectedPage(pane, 7296, 2376, 200, 200)));
    EXPECT_TRUE(ShowsPage(ViewPane(picture("_on_again"), pane), landscape));
    for (const char* grey : {"_broken", "_off"}) {
        PaneView view = ViewPane(picture(grey), pane);
        ASSERT_TRUE(view.ok) << grey;
        EXPECT_TRUE(view.framed) << grey;
        EXPECT_LE(view.page.width(), 0) << grey << ": something is drawn in the pane";
    }
}

// ---- a second scan in the same loaded source

namespace {

// A frame and a resolution as twacquire reports them ("layout before enabling: frame L T R B,
// ..." and "page N layout: frame L T R B, ...; resolution X x Y").
struct ReportedLayout {
    double left = -1, top = -1, right = -1, bottom = -1, xResolution = -1, yResolution = -1;
};

std::vector<ReportedLayout> LayoutsBeforeEnabling(const std::string& output)
{
    std::vector<ReportedLayout> layouts;
    for (const std::string& line : Lines(output)) {
        ReportedLayout layout;
        if (sscanf(line.c_str(), "layout before enabling: frame %lf %lf %lf %lf", &layout.left, &layout.top,
                   &layout.right, &layout.bottom) == 4)
            layouts.push_back(layout);
    }
    return layouts;
}

ReportedLayout PageLayout(const std::string& output, int page)
{
    ReportedLayout layout;
    std::string start = "page " + std::to_string(page) + " layout: frame ";
    for (const std::string& line : Lines(output)) {
        if (line.rfind(start, 0) != 0)
            continue;
        unsigned document, number, frame;
        sscanf(line.c_str() + start.size(), "%lf %lf %lf %lf, document %u, page %u, frame %u; resolution %lf x %lf",
               &layout.left, &layout.top, &layout.right, &layout.bottom, &document, &number, &frame,
               &layout.xResolution, &layout.yResolution);
    }
    return layout;
}

// Within a TW_FIX32's rounding and the report's four decimals.
void ExpectFrame(const ReportedLayout& layout, double right, double bottom)
{
    EXPECT_NEAR(0, layout.left, 1e-4);
    EXPECT_NEAR(0, layout.top, 1e-4);
    EXPECT_NEAR(right, layout.right, 1e-4);
    EXPECT_NEAR(bottom, layout.bottom, 1e-4);
}

// A portrait, a landscape and a 200 x 100 dpi page, newest first.
std::string ThreeShapes()
{
    const std::string sample = SampleStorageUnix() + "/documents/";
    auto document = [](const char* id, const char* subject, int day, const std::string& file) {
        return std::string("      <document id=\"") + id + "\" subject=\"" + subject + "\" timestamp=\"2024/09/0" +
               std::to_string(day) + " 10:00:00\" pages=\"1\" doctype=\"SCAN\" file=\"" + file + "\"/>\n";
    };
    return "<storage name=\"Orvel Simulator\" type=\"1\">\n"
           "  <user id=\"001\" handle=\"1\" name=\"Alice Archer\" password=\"\">\n"
           "    <folder id=\"00000100\" name=\"Shapes\">\n" +
           document("00004000", "Portrait", 3, sample + "00001000.tif") +
           document("00004001", "Landscape", 2, TestDocumentsUnix() + "/preview/landscape.tif") +
           document("00004002", "Standard", 1, sample + "00001004.tif") + "    </folder>\n  </user>\n</storage>\n";
}

// The three documents chosen, the first on show, and "&Download"; the window goes when the
// application disables the source after the batch.
const char* const DownloadThreeShapes = "wait-dialog 1071 30000\nsleep 500\n"
                                        "click-item 1001 0\nsleep 800\n"
                                        "click-item 1001 1 ctrl\nsleep 300\n"
                                        "click-item 1001 2 ctrl\nsleep 500\n"
                                        "click 1007\nwait-gone 120000\n";

// TMP and TEMP of the processes this one starts, for as long as the object lives: the source's
// work folders are then the only folders there.
class PrivateTemporaryFolder {
public:
    PrivateTemporaryFolder()
    {
        for (const char* name : {"TMP", "TEMP"}) {
            char value[MAX_PATH] = "";
            GetEnvironmentVariableA(name, value, sizeof value);
            saved_.push_back(value);
            SetEnvironmentVariableA(name, folder_.path().c_str());
        }
    }
    ~PrivateTemporaryFolder()
    {
        SetEnvironmentVariableA("TMP", saved_[0].empty() ? nullptr : saved_[0].c_str());
        SetEnvironmentVariableA("TEMP", saved_[1].empty() ? nullptr : saved_[1].c_str());
    }
    const std::string& path() const { return folder_.path(); }

private:
    TempFolder folder_{"qtmp"};
    std::vector<std::string> saved_;
};

}  // namespace

// The user closes the window with Alt+F4 while the folder tree has the focus: the source asks
// to be closed; the application disables it and enables it again without closing it: the window
// is shown again and a second batch runs. In centimetres: each page's frame is its own size and
// its resolution is per centimetre; before a page the frame is the physical size.
TEST_F(SourceWindowFlow, AltF4OnTheTreeThenEnabledAgainInCentimetres)
{
    CustomStorage storage(ThreeShapes());
    DeviceSimulator device({}, storage.unixPath());
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "", 1020);
    // Alt, F4 down with Alt held, and both up, as a person's keys arrive at the focused tree.
    WriteFileText(work / "close.txt", std::string(WaitForWindow) +
                                          "sleep 500\nclick-in 1000\nsleep 300\nfocus\n"
                                          "post 1000 0x0104 0x12 0x20380001\n"
                                          "post 1000 0x0104 0x73 0x203E0001\n"
                                          "post 1000 0x0105 0x73 0xE03E0001\n"
                                          "post 1000 0x0105 0x12 0xC0380001\n"
                                          "wait-gone 30000\n");
    WriteFileText(work / "download.txt", DownloadThreeShapes);
    std::string out = work.path().substr(0, work.path().size() - 1);
    ProgramRun run = RunAcquire(std::string("--source \"") + DriverName + "\" --timeout 150 --cycles 2 --reenable" +
                                    " --layout --cap 0x0102=1 --script \"" + work / "close.txt" + "\" --script \"" +
                                    work / "download.txt" + "\" --out \"" + out + "\"",
                                work.path(), 200000);
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(0, Count(run.output, "script: line")) << run.output;
    EXPECT_EQ(0, Count(run.output, "Application error.")) << run.output;
    EXPECT_TRUE(LinesInOrder(run.output, {
        "cycle 1 of 2",
        "source enabled",
        "script: focus 1000",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source disabled",
        "cycle 1: 0 page(s)",
        "cycle 2 of 2",
        "source enabled",
        "the source has pages ready (MSG_XFERREADY)",
        "no page is pending",
        "the source asks to be closed (MSG_CLOSEDSREQ)",
        "source disabled",
        "source closed",
        "cycle 2: 3 page(s)",
    })) << run.output;
    // Opened once, closed once.
    EXPECT_EQ(1, Count(run.output, "opened \"")) << run.output;
    EXPECT_EQ(1, Count(run.output, "source closed")) << run.output;

    std::vector<ReportedLayout> before = LayoutsBeforeEnabling(run.output);
    ASSERT_EQ(2u, before.size()) << run.output;
    for (const ReportedLayout& layout : before)
        ExpectFrame(layout, 8.64 * 2.54, 11.0 * 2.54);
    const double perCentimetre = 200 / 2.54;
    const struct {
        double right, bottom, xResolution, yResolution;
    } pages[] = {
        {8.64 * 2.54, 11.88 * 2.54, perCentimetre, perCentimetre},
        {11.88 * 2.54, 8.64 * 2.54, perCentimetre, perCentimetre},
        {8.64 * 2.54, 11.88 * 2.54, perCentimetre, perCentimetre / 2},
    };
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        ReportedLayout layout = PageLayout(run.output, page);
        ExpectFrame(layout, pages[page - 1].right, pages[page - 1].bottom);
        EXPECT_NEAR(pages[page - 1].xResolution, layout.xResolution, 1e-4);
        EXPECT_NEAR(pages[page - 1].yResolution, layout.yResolution, 1e-4);
    }
}

// A batch, then the source closed and opened again while its module stays loaded (twacquire
// holds it, as a manager that keeps sources loaded would): the window is shown again and the
// second batch brings the same pages. In pixels: frames are pixel counts, resolutions 1 pixel per
// pixel, and before a page the physical size at the resolution asked for. No work folder is
// left behind by either batch.
TEST_F(SourceWindowFlow, SecondBatchWithTheModuleKeptLoadedInPixels)
{
    CustomStorage storage(ThreeShapes());
    DeviceSimulator device({}, storage.unixPath());
    ASSERT_TRUE(device.started());
    Install();
    SetAddress("127.0.0.1");
    SetPort(device.port());
    SaveLogon("001:Alice Archer", "", 1020);
    WriteFileText(work / "download.txt", DownloadThreeShapes);
    std::string out = work.path().substr(0, work.path().size() - 1);
    ProgramRun run;
    {
        PrivateTemporaryFolder temporary;
        run = RunAcquire(std::string("--source \"") + DriverName + "\" --timeout 150 --cycles 2 --keep-loaded" +
                             " --report-resources --layout --cap 0x0102=5 --script \"" + work / "download.txt" +
                             "\" --out \"" + out + "\"",
                         work.path(), 200000);
        EXPECT_EQ(std::vector<std::string>{}, FilesIn(temporary.path()));
    }
    ASSERT_TRUE(run.finished) << run.output;
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(0, Count(run.output, "script: line")) << run.output;
    EXPECT_EQ(0, Count(run.output, "Application error.")) << run.output;
    EXPECT_TRUE(LinesInOrder(run.output, {
        "keeping the source module loaded: " + sources.path() + "orvel\\qrvkbx.ds",
        "source closed",
        "cycle 1: 3 page(s)",
        "cycle 2 of 2",
        "source enabled",
        "script: done",
        "source closed",
        "cycle 2: 3 page(s)",
    })) << run.output;
    EXPECT_EQ(2, Count(run.output, "opened \"")) << run.output;
    EXPECT_EQ(1, Count(run.output, "resources: cycle=2 ")) << run.output;
    EXPECT_EQ(1, Count(run.output, " temp_dirs=0")) << run.output;

    std::vector<ReportedLayout> before = LayoutsBeforeEnabling(run.output);
    ASSERT_EQ(2u, before.size()) << run.output;
    for (const ReportedLayout& layout : before)
        ExpectFrame(layout, 8.64 * 200, 11.0 * 200);
    const int sizes[3][2] = {{1728, 2376}, {2376, 1728}, {1728, 1188}};
    for (int page = 1; page <= 6; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        ReportedLayout layout = PageLayout(run.output, page);
        ExpectFrame(layout, sizes[(page - 1) % 3][0], sizes[(page - 1) % 3][1]);
        EXPECT_NEAR(1, layout.xResolution, 1e-4);
        EXPECT_NEAR(1, layout.yResolution, 1e-4);
        if (page > 3) {
            char first[32], again[32];
            snprintf(first, sizeof first, "page%03d.bmp", page - 3);
            snprintf(again, sizeof again, "page%03d.bmp", page);
            Bitmap a = ReadBmp(work / first), b = ReadBmp(work / again);
            ASSERT_TRUE(a.ok && b.ok);
            EXPECT_EQ(a.width, b.width);
            EXPECT_EQ(a.height, b.height);
            EXPECT_TRUE(a.pixels == b.pixels);
        }
    }
}
