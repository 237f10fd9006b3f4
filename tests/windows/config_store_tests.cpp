// The configuration store against a real INI file beside the module and the prefix's registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <cstring>
#include <string>
#include <iterator>

#include "device/config_store.h"
#include "device/storage_tables.h"
#include "tests/windows/support/attached_core.h"
#include "tests/windows/support/test_files.h"

namespace {

const char* const TestRegKey = "QrvConfigTest";
const std::string CommonPath = std::string("SOFTWARE\\Vantrel\\") + TestRegKey + "\\Common";

std::string IniWith(const std::string& lines)
{
    return "[TWAIN]\r\nDriverName=Config Test\r\n" + lines;
}

class ConfigStore : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(AttachCore(IniWith(std::string("RegKey=") + TestRegKey + "\r\n"))); }
    void TearDown() override { WriteCoreIni(""); }
    ScopedRegistryTree userTree{HKEY_CURRENT_USER, std::string("SOFTWARE\\Vantrel\\") + TestRegKey};
    ScopedRegistryTree machineTree{HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\Vantrel\\") + TestRegKey};
};

std::string Address()
{
    char buffer[MAX_PATH];
    memset(buffer, 'x', sizeof buffer);
    ReadServerAddress(buffer);
    return buffer;
}

}  // namespace

TEST_F(ConfigStore, IniFileIsBesideTheModule)
{
    char path[MAX_PATH];
    ASSERT_EQ(1, GetIniPath(path, sizeof path));
    EXPECT_EQ(CoreIniPath(), path);
    char tooSmall[8];
    EXPECT_EQ(0, GetIniPath(tooSmall, sizeof tooSmall));
}

TEST_F(ConfigStore, DriverNameIsCutToTheBuffer)
{
    char name[8];
    EXPECT_EQ(1, ReadDriverName(name, sizeof name));
    EXPECT_STREQ("Config ", name);
    WriteCoreIni(IniWith(""));
    WriteCoreIni("[TWAIN]\r\nDriverName=\r\n");
    EXPECT_EQ(0, ReadDriverName(name, sizeof name));
    EXPECT_STREQ("", name);
}

TEST_F(ConfigStore, IntegerKeysAndTheirDefaults)
{
    EXPECT_EQ(-1, ReadIniInt("TWAIN", "SizeType", -1));
    EXPECT_EQ(0, ReadIniInt("TWAIN", "InvisibleWEB", 0));
    WriteCoreIni(IniWith("SizeType=1\r\nInvisibleWEB=3\r\nInvisibleINFO=0\r\n"));
    EXPECT_EQ(1, ReadIniInt("TWAIN", "SizeType", -1));
    EXPECT_EQ(3, ReadIniInt("TWAIN", "InvisibleWEB", 0));
    EXPECT_EQ(0, ReadIniInt("TWAIN", "InvisibleINFO", 7));
}

TEST_F(ConfigStore, RegistryPathsAreFormedFromRegKeyAndRefusedWhenTooLong)
{
    char path[MAX_PATH];
    ASSERT_EQ(1, FormatRegKeyPath(path, CommonKeyPattern));
    EXPECT_EQ(CommonPath, path);
    ASSERT_EQ(1, FormatRegKeyPath(path, StorageSettingsKeyPattern));
    EXPECT_STREQ("SOFTWARE\\Vantrel\\QrvConfigTest\\TWAIN\\Sylvane", path);
    ASSERT_EQ(1, FormatRegKeyPath(path, DeviceListKeyPattern));
    EXPECT_STREQ("Software\\Vantrel\\QrvConfigTest\\Common\\Server", path);

    // "SOFTWARE\Vantrel\" and "\Common" take 24 characters: 235 fit, 236 do not.
    WriteCoreIni(IniWith("RegKey=" + std::string(235, 'k') + "\r\n"));
    EXPECT_EQ(1, FormatRegKeyPath(path, CommonKeyPattern));
    EXPECT_EQ(259u, strlen(path));
    WriteCoreIni(IniWith("RegKey=" + std::string(236, 'k') + "\r\n"));
    EXPECT_EQ(0, FormatRegKeyPath(path, CommonKeyPattern));
    EXPECT_STREQ("", path);

    WriteCoreIni(IniWith(""));
    EXPECT_EQ(0, FormatRegKeyPath(path, CommonKeyPattern));
}

TEST_F(ConfigStore, ServerAddressPrefersTheCurrentUser)
{
    SetRegistryString(HKEY_CURRENT_USER, CommonPath, "Server Address", "10.0.0.5");
    SetRegistryString(HKEY_LOCAL_MACHINE, CommonPath, "Server Address", "10.9.9.9");
    EXPECT_EQ("10.0.0.5", Address());
}

TEST_F(ConfigStore, AddressOnlyUnderTheLocalMachineIsCopiedToTheCurrentUser)
{
    SetRegistryString(HKEY_LOCAL_MACHINE, CommonPath, "Server Address", "printer.local");
    std::string copied;
    EXPECT_FALSE(GetRegistryString(HKEY_CURRENT_USER, CommonPath, "Server Address", copied));
    EXPECT_EQ("printer.local", Address());
    ASSERT_TRUE(GetRegistryString(HKEY_CURRENT_USER, CommonPath, "Server Address", copied));
    EXPECT_EQ("printer.local", copied);
}

TEST_F(ConfigStore, EmptyLocalMachineAddressIsCopiedEmpty)
{
    SetRegistryString(HKEY_LOCAL_MACHINE, CommonPath, "HttpPort", "8080");
    EXPECT_EQ("", Address());
    std::string copied = "unset";
    ASSERT_TRUE(GetRegistryString(HKEY_CURRENT_USER, CommonPath, "Server Address", copied));
    EXPECT_EQ("", copied);
}

TEST_F(ConfigStore, NoKeysAndNoRegKeyGiveAnEmptyAddressAndWriteNothing)
{
    EXPECT_EQ("", Address());
    WriteCoreIni(IniWith(""));
    EXPECT_EQ("", Address());
    WriteServerAddress("1.2.3.4");
    HKEY key;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Vantrel\\\\Common", 0, KEY_READ, &key));
}

TEST_F(ConfigStore, WrittenAddressIsStoredForTheCurrentUser)
{
    WriteServerAddress("192.168.1.10");
    std::string stored;
    ASSERT_TRUE(GetRegistryString(HKEY_CURRENT_USER, CommonPath, "Server Address", stored));
    EXPECT_EQ("192.168.1.10", stored);
    EXPECT_FALSE(GetRegistryString(HKEY_LOCAL_MACHINE, CommonPath, "Server Address", stored));
    EXPECT_EQ("192.168.1.10", Address());
}

TEST_F(ConfigStore, AnAddressLongerThanTheBufferIsCut)
{
    SetRegistryString(HKEY_CURRENT_USER, CommonPath, "Server Address", std::string(400, 'a'));
    EXPECT_EQ(std::string(259, 'a'), Address());
}

TEST_F(ConfigStore, PortRules)
{
    EXPECT_EQ(80u, ReadServerPort());  // no value
    struct Case {
        const char* text;
        unsigned port;
    } cases[] = {{"8080", 8080}, {"1", 1}, {"65535", 65535}, {"0", 80}, {"http", 80},
                 {"", 80}, {"  443", 443}, {"+8000", 8000}, {"81abc", 81}, {"65536", 80}};
    for (const Case& c : cases) {
        SetRegistryString(HKEY_LOCAL_MACHINE, CommonPath, "HttpPort", c.text);
        EXPECT_EQ(c.port, ReadServerPort()) << '"' << c.text << '"';
    }
    // Only the local machine's value counts.
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, CommonPath.c_str(), "HttpPort");
    SetRegistryString(HKEY_CURRENT_USER, CommonPath, "HttpPort", "9000");
    EXPECT_EQ(80u, ReadServerPort());
}

TEST_F(ConfigStore, WorkDirectoryIsFreshEachTimeAndReplacesThePreviousOne)
{
    strcpy(CurrentDocumentPath, "C:\\old\\00000001.tif");
    ASSERT_EQ(1, CreateWorkDirectory());
    std::string first = WorkDirectory;
    EXPECT_EQ('\\', first.back());
    EXPECT_TRUE(FolderExists(first));
    EXPECT_STREQ("", CurrentDocumentPath);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    EXPECT_EQ(0u, first.find(temp));
    EXPECT_EQ("Qrv", first.substr(strlen(temp), 3));
    WriteFileText(first + "00000001.tif", "document");

    ASSERT_EQ(1, CreateWorkDirectory());
    std::string second = WorkDirectory;
    EXPECT_NE(first, second);
    EXPECT_FALSE(FolderExists(first));
    EXPECT_TRUE(FolderExists(second));
    EXPECT_NE(0, DeleteDirectoryTree(WorkDirectory));
    EXPECT_FALSE(FolderExists(second));
    WorkDirectory[0] = '\0';
}

TEST_F(ConfigStore, DeleteDirectoryTreeRemovesNestedFoldersAndFiles)
{
    TempFolder scratch;
    std::string root = scratch / "tree\\";
    CreateDirectoryA(root.c_str(), nullptr);
    CreateDirectoryA((root + "sub").c_str(), nullptr);
    CreateDirectoryA((root + "sub\\deeper").c_str(), nullptr);
    WriteFileText(root + "a.tif", "a");
    WriteFileText(root + "a.tif~001.bmp", "b");
    WriteFileText(root + "sub\\deeper\\c.bmp", "c");
    EXPECT_NE(0, DeleteDirectoryTree(root.c_str()));
    EXPECT_FALSE(FolderExists(root));
    EXPECT_EQ(0, DeleteDirectoryTree(""));
    EXPECT_EQ(0, DeleteDirectoryTree(root.c_str()));
}

TEST_F(ConfigStore, CaptionFromDriverNameOnlyWhenSet)
{
    HWND window = CreateWindowA("STATIC", "template", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, window);
    char text[64];
    EXPECT_EQ(1, SetCaptionFromDriverName(window));
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ("Config Test", text);
    SetWindowTextA(window, "template");
    WriteCoreIni("[TWAIN]\r\nRegKey=x\r\n");
    EXPECT_EQ(0, SetCaptionFromDriverName(window));
    GetWindowTextA(window, text, sizeof text);
    EXPECT_STREQ("template", text);
    DestroyWindow(window);
}

namespace {

const std::string SettingsPath = std::string("SOFTWARE\\Vantrel\\") + TestRegKey + "\\TWAIN\\Sylvane";

// The protected value as stored; empty when there is none.
std::string StoredValue()
{
    char data[8192];
    DWORD size = sizeof data;
    if (RegGetValueA(HKEY_CURRENT_USER, SettingsPath.c_str(), ProtectedPasswordValue, RRF_RT_ANY, nullptr, data,
                     &size) != ERROR_SUCCESS)
        return {};
    return std::string(data, size);
}

void StoreValue(const std::string& bytes, DWORD type = REG_BINARY)
{
    RegSetKeyValueA(HKEY_CURRENT_USER, SettingsPath.c_str(), ProtectedPasswordValue, type, bytes.data(),
                    DWORD(bytes.size()));
}

std::string SavedPassword(int& result)
{
    char buffer[21];
    memset(buffer, 'x', sizeof buffer);
    result = ReadProtectedPassword(buffer, sizeof buffer);
    return buffer;
}

}  // namespace

TEST_F(ConfigStore, SavedPasswordIsProtectedAndWhatCannotBeUnprotectedIsNoPassword)
{
    // Twenty characters, the most a logon holds; stored as neither plain nor inverted text.
    const std::string password = "s3cret-password-20ch";
    int result = 0;
    ASSERT_EQ(1, WriteProtectedPassword(password.c_str()));
    EXPECT_EQ(password, SavedPassword(result));
    EXPECT_EQ(1, result);
    std::string stored = StoredValue(), inverted = password;
    for (char& c : inverted)
        c = char(~c);
    EXPECT_EQ(std::string::npos, stored.find(password.substr(0, 6)));
    EXPECT_EQ(std::string::npos, stored.find(inverted.substr(0, 6)));

    // What this user cannot unprotect here: protected for another purpose (as another user's or
    // machine's would be), cut short, tampered with, garbage, or not binary.
    DATA_BLOB plain{DWORD(password.size()), reinterpret_cast<BYTE*>(const_cast<char*>(password.data()))};
    DATA_BLOB other{};
    ASSERT_TRUE(CryptProtectData(&plain, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &other));
    std::string tampered = stored;
    tampered[tampered.size() / 2] ^= 0x55;
    const std::pair<std::string, DWORD> unreadable[] = {
        {std::string(reinterpret_cast<char*>(other.pbData), other.cbData), REG_BINARY},
        {stored.substr(0, stored.size() - 8), REG_BINARY},
        {tampered, REG_BINARY},
        {std::string(200, '\xA5'), REG_BINARY},
        {stored, REG_SZ},
    };
    LocalFree(other.pbData);
    for (size_t i = 0; i < std::size(unreadable); ++i) {
        StoreValue(unreadable[i].first, unreadable[i].second);
        EXPECT_EQ("", SavedPassword(result)) << i;
        EXPECT_EQ(0, result) << i;
    }

    // An empty password leaves no value at all; without "RegKey" nothing is read or written.
    ASSERT_EQ(1, WriteProtectedPassword(password.c_str()));
    ASSERT_EQ(1, WriteProtectedPassword(""));
    EXPECT_EQ("", StoredValue());
    ASSERT_EQ(1, WriteProtectedPassword(password.c_str()));
    WriteCoreIni(IniWith(""));
    EXPECT_EQ("", SavedPassword(result));
    EXPECT_EQ(0, WriteProtectedPassword("other"));
}

TEST(ModuleAttach, RefusedWithoutIniOrDriverNameAndReadsIdentityTexts)
{
    EXPECT_FALSE(AttachCore(""));
    EXPECT_FALSE(AttachCore("[TWAIN]\r\nDriverName=\r\n"));
    EXPECT_TRUE(AttachCore("[TWAIN]\r\nDriverName=Attached\r\n"));
    WriteCoreIni("");
}
