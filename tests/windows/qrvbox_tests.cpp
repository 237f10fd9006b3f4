// qrvbox.exe as shipped (bin/, beside qrvxpmns.dll and qrvcofig.ini) against the device simulator
// on loopback: the device and the user from the source's registry settings, a listing, pages
// converted as qrvpage converts them, an archive run twice, an archive with deletion while the
// device cuts its files, a wrong password, hostile answers and a device that is gone.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/windows/support/device_simulator.h"
#include "tests/windows/support/test_files.h"

namespace {

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

HANDLE InheritableFile(const std::string& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// qrvbox.exe and the protocol library copied into a folder of their own, with an INI file that
// names a product key of the tests' own.
constexpr char TestRegKey[] = "QrvboxTest";

class InstalledTool {
public:
    InstalledTool() {
        EXPECT_TRUE(CopyInto(BinFolder() + "qrvbox.exe", folder_.path()));
        EXPECT_TRUE(CopyInto(BinFolder() + "qrvxpmns.dll", folder_.path()));
        WriteFileText(folder_ / "qrvcofig.ini", std::string("[TWAIN]\r\nRegKey=") + TestRegKey + "\r\n");
    }
    std::string exe() const { return folder_ / "qrvbox.exe"; }

private:
    TempFolder folder_{"qbin"};
};

const InstalledTool& Tool() {
    static InstalledTool tool;
    return tool;
}

// Runs qrvbox.exe to its end, standard input from NUL (no console: no question is asked).
ToolRun Qrvbox(const std::string& arguments, const TempFolder& folder) {
    ToolRun run;
    const std::string outPath = folder / "stdout.txt", errPath = folder / "stderr.txt";
    HANDLE in = InheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = InheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = InheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    std::string command = "\"" + Tool().exe() + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    EXPECT_TRUE(started) << GetLastError();
    CloseHandle(in);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) return run;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 120000)) << arguments;
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    run.out = ReadFileText(outPath);
    run.err = ReadFileText(errPath);
    return run;
}

int Count(const std::string& text, const std::string& what) {
    int count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

std::vector<std::string> Ids(const std::string& json) {
    std::vector<std::string> ids;
    for (size_t at = json.find("\"id\":\""); at != std::string::npos; at = json.find("\"id\":\"", at + 1))
        ids.push_back(json.substr(at + 6, 8));
    return ids;
}

std::vector<std::string> TiffFilesIn(const std::string& folder) {
    std::vector<std::string> names = FilesIn(folder);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& name) { return name.size() < 4 || name.substr(name.size() - 4) != ".tif"; }),
                names.end());
    return names;
}

uint32_t Little32(const std::string& data, size_t at) {
    return static_cast<uint8_t>(data[at]) | static_cast<uint8_t>(data[at + 1]) << 8 |
           static_cast<uint8_t>(data[at + 2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(data[at + 3])) << 24;
}

// A BMP file's rows top row first, without padding: bottom-up as BMP files are stored, or
// top-first as the page bitmap file keeps them.
std::vector<std::string> BmpRows(const std::string& path, bool topFirst, uint32_t& width) {
    const std::string data = ReadFileText(path);
    std::vector<std::string> rows;
    if (data.size() < 54) return rows;
    width = Little32(data, 18);
    const uint32_t height = Little32(data, 22), bits = static_cast<uint8_t>(data[28]);
    const uint32_t stride = (width * bits + 31) / 32 * 4, bytes = (width * bits + 7) / 8;
    if (data.size() < Little32(data, 10) + static_cast<size_t>(stride) * height) return rows;
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t stored = topFirst ? y : height - 1 - y;
        rows.push_back(data.substr(Little32(data, 10) + static_cast<size_t>(stored) * stride, bytes));
    }
    return rows;
}

const std::string RegistryRoot = std::string("SOFTWARE\\Vantrel\\") + TestRegKey;
const std::string RegistryCommon = RegistryRoot + "\\Common";
const std::string RegistryStorageSettings = RegistryRoot + "\\TWAIN\\Sylvane";

}  // namespace

TEST(QrvboxFlow, ListsFetchesAndArchivesFromTheSourcesSettings)
{
    DeviceSimulator device;
    ASSERT_TRUE(device.started());
    TempFolder work("qbox");
    // The device and the user as the source keeps them: the user's address, the machine's port,
    // the saved logon's user entry.
    ScopedRegistryTree user(HKEY_CURRENT_USER, RegistryRoot);
    ScopedRegistryTree machine(HKEY_LOCAL_MACHINE, RegistryRoot);
    SetRegistryString(HKEY_CURRENT_USER, RegistryCommon, "Server Address", " 127.0.0.1 ");
    SetRegistryString(HKEY_LOCAL_MACHINE, RegistryCommon, "HttpPort", std::to_string(device.port()));
    unsigned char record[92] = {};
    strcpy(reinterpret_cast<char*>(record + 36), "001:Alice Archer");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, RegistryStorageSettings.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    RegSetValueExA(key, "SB Mode", 0, REG_BINARY, record, sizeof record);
    RegCloseKey(key);

    ToolRun folders = Qrvbox("folders", work);
    EXPECT_EQ(0u, folders.exitCode) << folders.err;
    EXPECT_EQ("ID        NAME\n00000100  Inbox\n00000101  Scans\n", folders.out);
    ToolRun scans = Qrvbox("list Scans --json", work);
    EXPECT_EQ((std::vector<std::string>{"00000102", "00001005", "00001004"}), Ids(scans.out)) << scans.err;

    // A JBIG page in gray at 300 dpi on A4, as qrvpage makes it.
    const std::string pages = work / "pages";
    ToolRun fetched = Qrvbox("fetch Scans 1005 --pages 2 --pixel-type gray --resolution 300 --paper A4 --format bmp "
                             "--out \"" + pages + "\"", work);
    ASSERT_EQ(0u, fetched.exitCode) << fetched.err;
    const std::string reference = UnixPath(work / "reference.bmp");
    const std::string marker = work / "reference.done";
    std::string command = "Z:\\bin\\sh -c \"'" QRV_NATIVE_BUILD_DIR "/tools/page_tool/qrvpage' --convert --pixel-type "
                          "gray --resolution 300 --paper 826x1168 --bmp '" + reference + "' '" + SampleStorageUnix() +
                          "/documents/00001005.tif' 2 >/dev/null; touch '" + UnixPath(marker) + "'\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    // A Unix child cannot be waited for from here; the marker is its last act.
    for (int i = 0; i < 600 && !FileExists(marker); ++i) Sleep(50);
    uint32_t width = 0, referenceWidth = 0;
    const std::vector<std::string> ours = BmpRows(pages + "\\00001005-002.bmp", false, width);
    const std::vector<std::string> theirs = BmpRows(work / "reference.bmp", true, referenceWidth);
    EXPECT_EQ(referenceWidth, width);
    ASSERT_FALSE(theirs.empty());
    EXPECT_TRUE(ours == theirs) << "the page differs from qrvpage's";

    // Archived twice: the second run fetches nothing.
    const std::string archive = work / "archive";
    const int fetchedBefore = Count(device.Requests(), "== GET /strage/");
    ToolRun first = Qrvbox("archive Inbox --out \"" + archive + "\"", work);
    EXPECT_EQ(0u, first.exitCode) << first.err;
    EXPECT_EQ((std::vector<std::string>{"20240501091500_00001000.tif", "20240502103000_00001001.tif",
                                        "20240503114500_00001002.tif", "20240504130000_00001003.tif"}),
              FilesIn(archive + "\\"));
    EXPECT_EQ(ReadFileText(SampleStorageFolder() + "documents\\00001003.tif"),
              ReadFileText(archive + "\\20240504130000_00001003.tif"));
    const int fetches = Count(device.Requests(), "== GET /strage/");
    EXPECT_EQ(fetchedBefore + 4, fetches);
    ToolRun second = Qrvbox("archive Inbox --out \"" + archive + "\" --delete", work);
    EXPECT_EQ(0u, second.exitCode) << second.err;
    EXPECT_EQ("0 archived, 4 already archived, 4 deleted on the device, 0 failed, of 4 documents in Inbox\n", second.out);
    EXPECT_EQ(fetches, Count(device.Requests(), "== GET /strage/"));
    EXPECT_TRUE(Ids(Qrvbox("list Inbox --json", work).out).empty());

    // A wrong password: the device's refusal, and no prompt without a console.
    ToolRun bob = Qrvbox("--user 002 folders", work);
    EXPECT_EQ(1u, bob.exitCode);
    EXPECT_NE(std::string::npos, bob.err.find("Authentication failed.(Error Code:807)")) << bob.err;
    SetEnvironmentVariableA("QRVBOX_PASSWORD", "secret");
    ToolRun withPassword = Qrvbox("--user 002 folders", work);
    SetEnvironmentVariableA("QRVBOX_PASSWORD", nullptr);
    EXPECT_EQ("ID        NAME\n00000200  Fax\n", withPassword.out) << withPassword.err;

    // A device that is gone.
    device.Stop();
    ToolRun gone = Qrvbox("list Scans", work);
    EXPECT_EQ(1u, gone.exitCode);
    EXPECT_NE(std::string::npos, gone.err.find("cannot connect to the device")) << gone.err;
}

TEST(QrvboxFlow, CutFilesAndHostileAnswersDeleteNothing)
{
    TempFolder work("qbox");
    const std::string archive = work / "archive";
    for (const char* fault : {"--cut-files", "--chunked-files"}) {
        DeviceSimulator device({"--cut-files", fault});
        ASSERT_TRUE(device.started());
        ToolRun cut = Qrvbox("--device 127.0.0.1:" + std::to_string(device.port()) + " --user 001 archive Inbox --out \"" +
                                 archive + "\" --delete --json",
                             work);
        EXPECT_EQ(1u, cut.exitCode) << fault;
        EXPECT_NE(std::string::npos, cut.out.find("\"archived\":0,\"alreadyArchived\":0,\"deleted\":0,\"failed\":4"))
            << cut.out << cut.err;
        EXPECT_EQ(0, Count(device.Requests(), "<COMMAND>DELETE</COMMAND>")) << fault;
        EXPECT_TRUE(TiffFilesIn(archive + "\\").empty()) << fault;
    }
    DeviceSimulator malformed({"--malformed"});
    ToolRun refused = Qrvbox("--device 127.0.0.1:" + std::to_string(malformed.port()) + " --user 001 list Inbox", work);
    EXPECT_EQ(1u, refused.exitCode);
    EXPECT_TRUE(refused.out.empty()) << refused.out;
    EXPECT_NE(std::string::npos, refused.err.find("answer was refused")) << refused.err;
}
