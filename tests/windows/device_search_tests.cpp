// The device search tool: its target lists, the loopback guard, the subnet arithmetic (as pure
// functions: nothing is sent), the reading of probe answers, and the tool itself run as a
// process against simulators on loopback addresses, read back as the device dialogs read it.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "tests/windows/support/device_simulator.h"
#include "tests/windows/support/test_files.h"
#include "tools/device_search/device_list.h"
#include "tools/device_search/probe_answer.h"
#include "tools/device_search/search_targets.h"
#include "tools/device_search/target_choice.h"

namespace {

uint32_t Address(const char* text)
{
    uint32_t address = 0;
    EXPECT_TRUE(ParseIPv4(text, address)) << text;
    return address;
}

std::vector<std::string> Texts(const std::vector<ProbeTarget>& targets)
{
    std::vector<std::string> texts;
    for (const ProbeTarget& target : targets)
        texts.push_back(FormatIPv4(target.address) + ":" + std::to_string(target.port));
    return texts;
}

}  // namespace

TEST(SearchTargets, AddressesRangesAndPrefixesWithPorts)
{
    std::vector<ProbeTarget> targets;
    std::string bad;
    ASSERT_TRUE(ParseTargetList("127.0.0.2-4, 127.0.0.9:8080;127.0.0.3 127.1.0.0/30\t127.0.0.254-127.0.1.1", 80,
                                targets, bad));
    EXPECT_EQ(Texts(targets),
              (std::vector<std::string>{"127.0.0.2:80", "127.0.0.3:80", "127.0.0.4:80", "127.0.0.9:8080",
                                        "127.1.0.1:80", "127.1.0.2:80", "127.0.0.254:80", "127.0.0.255:80",
                                        "127.0.1.0:80", "127.0.1.1:80"}));

    for (const char* wrong : {"127.0.0", "127.0.0.256", "127.0.0.1.5", "127.0.0.x", "127.0.0.9-3", "127.0.0.1:0",
                              "127.0.0.1:65536", "127.0.0.1/33", "10.0.0.0/8", "-5", "127.0.0.1:", " 1..2.3"}) {
        targets.clear();
        EXPECT_FALSE(ParseTargetList(wrong, 80, targets, bad)) << wrong;
    }
    // Too many addresses is a mistake, not a long search.
    targets.clear();
    EXPECT_FALSE(ParseTargetList("127.0.0.0-127.0.255.255", 80, targets, bad));
    EXPECT_EQ(bad, "127.0.0.0-127.0.255.255");
    targets.clear();
    EXPECT_TRUE(ParseTargetList(" ;, ", 80, targets, bad));
    EXPECT_TRUE(targets.empty());
}

TEST(SearchTargets, GuardRefusesEverythingOutsideLoopbackWithoutReadingInterfaces)
{
    static int interfaceReads = 0;
    auto fakeInterfaces = []() {
        ++interfaceReads;
        return std::vector<InterfaceAddress>{{Address("192.168.7.20"), Address("255.255.255.0"), true, false, false}};
    };
    SearchSettings settings;
    settings.port = 8081;
    settings.loopbackOnly = true;
    std::vector<ProbeTarget> targets;
    std::string error;

    settings.namedTargets = "127.0.0.2-3 192.168.1.10";
    EXPECT_FALSE(ChooseTargets(settings, fakeInterfaces, targets, error));
    EXPECT_EQ(error, "QRV_SEARCH_LOOPBACK_ONLY is set: 192.168.1.10 is outside 127.0.0.0/8 and is not searched.");
    settings.namedTargets = "126.255.255.255-127.0.0.1";
    EXPECT_FALSE(ChooseTargets(settings, fakeInterfaces, targets, error));
    EXPECT_EQ(error, "QRV_SEARCH_LOOPBACK_ONLY is set: 126.255.255.255 is outside 127.0.0.0/8 and is not searched.");
    settings.namedTargets = "";
    EXPECT_FALSE(ChooseTargets(settings, fakeInterfaces, targets, error));
    EXPECT_EQ(error, "QRV_SEARCH_LOOPBACK_ONLY is set and no address is named: the local subnets are not searched.");
    EXPECT_EQ(interfaceReads, 0);
    settings.namedTargets = "127.255.255.254-255";
    EXPECT_TRUE(ChooseTargets(settings, fakeInterfaces, targets, error));
    EXPECT_EQ(Texts(targets), (std::vector<std::string>{"127.255.255.254:8081", "127.255.255.255:8081"}));
    settings.namedTargets = "127.0.0.1/29x";
    EXPECT_FALSE(ChooseTargets(settings, fakeInterfaces, targets, error));
    EXPECT_EQ(error, "\"127.0.0.1/29x\" is not an address, a range or a network that can be searched (at most 4096 "
                     "addresses).");

    // Without the guard and without names, the interfaces decide (computed only, nothing sent).
    settings.loopbackOnly = false;
    settings.namedTargets = "";
    EXPECT_TRUE(ChooseTargets(settings, fakeInterfaces, targets, error));
    EXPECT_EQ(interfaceReads, 1);
    ASSERT_EQ(targets.size(), 254u);
    EXPECT_EQ(FormatIPv4(targets.front().address), "192.168.7.1");
    EXPECT_EQ(FormatIPv4(targets.back().address), "192.168.7.254");
    EXPECT_EQ(targets.front().port, 8081);
}

TEST(SearchTargets, SubnetsOfTheInterfaces)
{
    std::vector<InterfaceAddress> interfaces = {
        {Address("127.0.0.1"), Address("255.0.0.0"), true, true, false},         // loopback
        {Address("10.20.30.40"), Address("255.255.0.0"), true, false, false},    // /16: its own /24
        {Address("10.20.30.99"), Address("255.255.255.0"), true, false, false},  // the same /24 again
        {Address("192.168.5.9"), Address("255.255.255.248"), true, false, false},
        {Address("172.16.0.5"), Address("255.255.255.0"), false, false, false},  // down
        {Address("172.17.0.5"), Address("255.255.255.0"), true, false, true},    // point-to-point
        {Address("172.18.0.5"), Address("255.0.255.0"), true, false, false},     // not a mask
        {Address("172.19.0.5"), Address("255.255.255.254"), true, false, false}, // no host range
    };
    std::vector<uint32_t> addresses = SubnetAddresses(interfaces);
    ASSERT_EQ(addresses.size(), 254u + 6u);
    EXPECT_EQ(FormatIPv4(addresses[0]), "10.20.30.1");
    EXPECT_EQ(FormatIPv4(addresses[253]), "10.20.30.254");
    EXPECT_EQ(FormatIPv4(addresses[254]), "192.168.5.9");
    EXPECT_EQ(FormatIPv4(addresses[259]), "192.168.5.14");
}

TEST(ProbeAnswers, DevicesStrangersAndHalfAnswers)
{
    std::string name, type;
    const std::string body = "<?xml version=\"1.0\"?>\n<DEVICEINFO><NAME>A &amp; B &lt;1&gt;</NAME><TYPE>1</TYPE>"
                             "</DEVICEINFO>\n";
    const std::string whole =
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    EXPECT_EQ(ReadProbeAnswer(whole, false, name, type), ProbeAnswer::Device);
    EXPECT_EQ(name, "A & B <1>");
    EXPECT_EQ(type, "1");
    // Every part of the answer short of the whole is not yet an answer, and a close there is none.
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        EXPECT_EQ(ReadProbeAnswer(whole.substr(0, cut), false, name, type), ProbeAnswer::Incomplete) << cut;
        EXPECT_EQ(ReadProbeAnswer(whole.substr(0, cut), true, name, type), ProbeAnswer::NotDevice) << cut;
    }
    // Without a length the end of the connection ends the body.
    std::string unsized = "HTTP/1.0 200 OK\r\n\r\n" + body;
    EXPECT_EQ(ReadProbeAnswer(unsized, false, name, type), ProbeAnswer::Incomplete);
    EXPECT_EQ(ReadProbeAnswer(unsized, true, name, type), ProbeAnswer::Device);

    const std::string strangers[] = {
        "HTTP/1.1 404 Not Found\r\n",
        "HTTP/1.1 2000 OK\r\n",
        "SSH-2.0-OpenSSH_9.2\r\n",
        "\x16\x03\x01 not a web server \xff\xfe<DEVICEINFO><NAME>\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 99999\r\n\r\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n<DEVICEINFO><NAME>x</NAME></DEVICEINFO>\n",
        "HTTP/1.1 200 OK\r\nContent-Length: 51\r\n\r\n<DEVICEINFO><NAME></NAME><TYPE>1</TYPE></DEVICEINFO>",
        "HTTP/1.1 200 OK\r\nContent-Length: 55\r\n\r\n<DEVICEINFO><NAME>a&#1;</NAME><TYPE>1</TYPE></DEVICEINFO>",
        "HTTP/1.1 200 OK\r\nContent-Length: 56\r\n\r\n<DEVICEINFO><NAME>a\nb</NAME><TYPE>1</TYPE></DEVICEINFO>",
        "HTTP/1.1 200 OK\r\nContent-Length: 53\r\n\r\n<NAME>x</NAME><TYPE>1</TYPE><DEVICEINFO></DEVICEINFO>",
    };
    for (const std::string& stranger : strangers)
        EXPECT_EQ(ReadProbeAnswer(stranger, true, name, type), ProbeAnswer::NotDevice) << stranger;
    // A status line that is not ours ends the probe at once, without waiting for more.
    EXPECT_EQ(ReadProbeAnswer("HTTP/1.1 301 Moved\r\n", false, name, type), ProbeAnswer::NotDevice);
    EXPECT_EQ(ReadProbeAnswer(std::string(MaxProbeAnswer + 1, 'x'), false, name, type), ProbeAnswer::NotDevice);
}

TEST(DeviceTexts, CutToTheDialogsRoomAtCharacterBoundaries)
{
    EXPECT_EQ(DeviceText("Orvel", DeviceNameRoom), "Orvel");
    EXPECT_EQ(DeviceText(std::string(100, 'n'), DeviceNameRoom), std::string(63, 'n'));
    EXPECT_EQ(DeviceText("12345678", DeviceTypeRoom), "1234567");
    if (GetACP() == 1252) {
        EXPECT_EQ(DeviceText("Gr\xC3\xBC\xC3\x9F" "e", DeviceNameRoom), "Gr\xFC\xDF" "e");
    }
    EXPECT_EQ(DeviceText("", DeviceNameRoom), "");
}

// --- The tool as a process ---------------------------------------------------------------

namespace {

constexpr const char* TestRegKey = "QrvSearchTest";
const std::string DeviceListPath = std::string("Software\\Vantrel\\") + TestRegKey + "\\Common\\Server";

struct ToolRun {
    DWORD exitCode = 0xFFFFFFFF;
    double seconds = 0;
    std::vector<std::string> boxes;  // texts of the message boxes it showed (each answered with OK)
};

struct BoxSearch {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindows(HWND window, LPARAM parameter)
{
    BoxSearch* search = reinterpret_cast<BoxSearch*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window))
        search->found.push_back(window);
    return TRUE;
}

std::vector<HWND> VisibleWindowsOf(DWORD process)
{
    BoxSearch search{process, {}};
    EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The tool's copy in a folder of its own, beside an INI file made for the test.
class ToolFolder {
public:
    explicit ToolFolder(const std::string& searchSection = "")
    {
        EXPECT_TRUE(CopyInto(BinFolder() + "qrvssearch.exe", folder_.path()));
        WriteFileText(folder_ / "qrvcofig.ini",
                      std::string("[TWAIN]\r\nDriverName=Orvel TWAIN Connector\r\nRegKey=") + TestRegKey + "\r\n" +
                          searchSection);
    }
    const std::string& path() const { return folder_.path(); }

    // Runs "qrvssearch.exe ARGUMENTS" found through PATH, as the device dialog starts it;
    // onWindow is called once with the search window when it shows.
    ToolRun Run(const std::string& arguments, void (*onWindow)(HWND) = nullptr) const
    {
        ToolRun run;
        char oldPath[32768] = "";
        GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
        SetEnvironmentVariableA("PATH", (folder_.path() + ";" + oldPath).c_str());
        std::string command = "qrvssearch.exe" + (arguments.empty() ? "" : " " + arguments);
        std::vector<char> line(command.begin(), command.end());
        line.push_back('\0');
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        auto start = std::chrono::steady_clock::now();
        BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                      &process);
        SetEnvironmentVariableA("PATH", oldPath);
        EXPECT_TRUE(started) << GetLastError();
        if (!started)
            return run;
        std::vector<HWND> seen;
        while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
            for (HWND window : VisibleWindowsOf(process.dwProcessId)) {
                if (std::find(seen.begin(), seen.end(), window) != seen.end())
                    continue;
                char className[32] = "";
                GetClassNameA(window, className, sizeof className);
                if (strcmp(className, "#32770") == 0 && GetDlgItem(window, 0xFFFF)) {
                    char text[1024] = "";
                    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
                    run.boxes.push_back(text);
                    PostMessageA(window, WM_COMMAND, IDOK, 0);
                    seen.push_back(window);
                } else if (strcmp(className, "QrvDeviceSearch") == 0) {
                    seen.push_back(window);
                    if (onWindow)
                        onWindow(window);
                }
            }
        }
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        GetExitCodeProcess(process.hProcess, &run.exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return run;
    }

private:
    TempFolder folder_{"qsrch"};
};

struct ListedDevice {
    std::string address, name;
    bool operator==(const ListedDevice&) const = default;
};

// The device list read back as the device dialog reads it: "Index", then per entry its type
// (only "1" is offered), address and name, stopping at the first missing value.
std::vector<ListedDevice> ReadDeviceList(DWORD* indexOut = nullptr)
{
    std::vector<ListedDevice> rows;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, DeviceListPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return rows;
    DWORD index = 0, size = sizeof index;
    if (RegQueryValueExA(key, "Index", nullptr, nullptr, reinterpret_cast<BYTE*>(&index), &size) != ERROR_SUCCESS)
        index = 0;
    if (indexOut)
        *indexOut = index;
    auto read = [&](const std::string& name, int room, std::string& value) {
        char text[64] = "";
        DWORD length = static_cast<DWORD>(room);
        if (RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &length) !=
            ERROR_SUCCESS)
            return false;
        value.assign(text, strnlen(text, static_cast<size_t>(room)));
        return true;
    };
    for (DWORD n = 1; n <= index; ++n) {
        std::string number = std::to_string(n), type, address, name;
        if (!read(number + "t", 8, type))
            break;
        if (type != "1")
            continue;
        if (!read(number, 32, address) || !read(number + "n", 64, name))
            break;
        rows.push_back({address, name});
    }
    RegCloseKey(key);
    return rows;
}

// A previous search's list of five entries, which every finished search must replace.
void WriteOldList()
{
    for (int n = 1; n <= 5; ++n) {
        SetRegistryString(HKEY_CURRENT_USER, DeviceListPath, (std::to_string(n) + "t").c_str(), "1");
        SetRegistryString(HKEY_CURRENT_USER, DeviceListPath, std::to_string(n).c_str(), "192.0.2." + std::to_string(n));
        SetRegistryString(HKEY_CURRENT_USER, DeviceListPath, (std::to_string(n) + "n").c_str(), "Old device");
    }
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, DeviceListPath.c_str(), 0, KEY_WRITE, &key), ERROR_SUCCESS);
    DWORD five = 5;
    RegSetValueExA(key, "Index", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&five), sizeof five);
    RegCloseKey(key);
}

int ValueCount()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, DeviceListPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    DWORD values = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                     nullptr);
    RegCloseKey(key);
    return static_cast<int>(values);
}

std::string StorageNamed(const std::string& name, const std::string& type)
{
    return "<storage name=\"" + name + "\" type=\"" + type + "\"/>";
}

}  // namespace

TEST(SearchTool, FindsTheSimulatorsOnLoopbackAndPassesOverMisbehavingHosts)
{
    ScopedRegistryTree cleanup(HKEY_CURRENT_USER, std::string("Software\\Vantrel\\") + TestRegKey);
    WriteOldList();
    // All on one port, each on an address of its own.
    DeviceSimulator first({"--host", "127.0.0.2"});
    ASSERT_TRUE(first.started());
    std::string port = std::to_string(first.port());
    CustomStorage beta(StorageNamed("Beta &amp; Co. " + std::string(70, 'b'), "1"));
    CustomStorage other(StorageNamed("Another kind", "7"));
    DeviceSimulator second({"--host", "127.0.0.3", "--port", port}, beta.unixPath());
    DeviceSimulator third({"--host", "127.0.0.4", "--port", port}, other.unixPath());
    DeviceSimulator garbage({"--host", "127.0.0.5", "--port", port, "--probe-fault", "garbage"});
    DeviceSimulator silent({"--host", "127.0.0.6", "--port", port, "--probe-fault", "silent"});
    DeviceSimulator deaf({"--host", "127.0.0.7", "--port", port, "--no-accept"});
    for (DeviceSimulator* simulator : {&second, &third, &garbage, &silent, &deaf})
        ASSERT_TRUE(simulator->started());
    // 127.0.0.8 and 127.0.0.9: nothing listens, the connection is refused.

    ToolFolder tool;
    ToolRun run = tool.Run("--port " + port + " 127.0.0.2-127.0.0.9");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    printf("search of 8 loopback addresses (3 devices, 3 misbehaving, 2 refusing): %.2f s\n", run.seconds);
    // The misbehaving hosts cost no more than the probe's time-outs.
    EXPECT_LT(run.seconds, 8.0);

    DWORD index = 0;
    std::vector<ListedDevice> expected = {{"127.0.0.2", "Orvel Simulator"}, {"127.0.0.3", "Beta & Co. " + std::string(52, 'b')}};
    EXPECT_EQ(ReadDeviceList(&index), expected);
    // The device of another type is listed as such; the dialog's filter leaves it out.
    EXPECT_EQ(index, 3u);
    std::string type;
    EXPECT_TRUE(GetRegistryString(HKEY_CURRENT_USER, DeviceListPath, "3t", type));
    EXPECT_EQ(type, "7");
    EXPECT_EQ(ValueCount(), 1 + 3 * 3);  // nothing of the old list is left
    EXPECT_EQ(first.RequestCount(), 1);

    // Started without arguments from the search path, the INI file names what to search.
    ToolFolder configured("[Search]\r\nTargets=127.0.0.3, 127.0.0.8\r\nPort=" + port + "\r\n");
    run = configured.Run("");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(ReadDeviceList(), (std::vector<ListedDevice>{{"127.0.0.3", "Beta & Co. " + std::string(52, 'b')}}));
    EXPECT_EQ(first.RequestCount(), 1);  // not named, not asked
}

TEST(SearchTool, NothingAnsweringEndsWithinTheTimeOutsAndAnEmptyList)
{
    ScopedRegistryTree cleanup(HKEY_CURRENT_USER, std::string("Software\\Vantrel\\") + TestRegKey);
    WriteOldList();
    DeviceSimulator deaf({"--host", "127.0.0.20", "--no-accept"});
    ASSERT_TRUE(deaf.started());
    std::string port = std::to_string(deaf.port());
    DeviceSimulator silent({"--host", "127.0.0.21", "--port", port, "--probe-fault", "silent"});
    ASSERT_TRUE(silent.started());
    ToolFolder tool;
    // 254 addresses: two that never answer, the rest refusing.
    ToolRun run = tool.Run("--port " + port + " 127.0.0.0/24");
    EXPECT_EQ(run.exitCode, 0u);
    printf("search of 254 loopback addresses with nothing answering: %.2f s\n", run.seconds);
    DWORD index = 99;
    EXPECT_TRUE(ReadDeviceList(&index).empty());
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(ValueCount(), 1);
}

TEST(SearchTool, CancelKeepsThePreviousList)
{
    ScopedRegistryTree cleanup(HKEY_CURRENT_USER, std::string("Software\\Vantrel\\") + TestRegKey);
    WriteOldList();
    DeviceSimulator silent({"--host", "127.0.0.30", "--probe-fault", "silent"});
    ASSERT_TRUE(silent.started());
    ToolFolder tool;
    static bool cancelEnabled = false;
    static std::chrono::steady_clock::time_point clicked;
    ToolRun run = tool.Run("--port " + std::to_string(silent.port()) + " 127.0.0.30", [](HWND window) {
        HWND cancel = GetDlgItem(window, IDCANCEL);
        char text[32] = "";
        GetWindowTextA(cancel, text, sizeof text);
        cancelEnabled = cancel && IsWindowEnabled(cancel) && strcmp(text, "Cancel") == 0;
        clicked = std::chrono::steady_clock::now();
        PostMessageA(cancel, BM_CLICK, 0, 0);
    });
    double afterClick = std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count();
    EXPECT_TRUE(cancelEnabled);
    EXPECT_EQ(run.exitCode, 1u);
    printf("the search ended %.2f s after Cancel\n", afterClick);
    EXPECT_LT(afterClick, 1.5);  // without Cancel the silent host holds it to its 2.5 s time-out
    EXPECT_EQ(ReadDeviceList().size(), 5u);
}

TEST(SearchTool, RefusalsAreShownAndLeaveTheListAlone)
{
    ScopedRegistryTree cleanup(HKEY_CURRENT_USER, std::string("Software\\Vantrel\\") + TestRegKey);
    WriteOldList();
    // The test rig sets the guard for every Windows program it runs.
    char guard[8] = "";
    ASSERT_GT(GetEnvironmentVariableA("QRV_SEARCH_LOOPBACK_ONLY", guard, sizeof guard), 0u);
    ToolFolder tool;
    struct Case {
        std::string arguments, box;
    } cases[] = {
        {"127.0.0.2 10.1.2.3", "QRV_SEARCH_LOOPBACK_ONLY is set: 10.1.2.3 is outside 127.0.0.0/8 and is not searched."},
        {"127.0.0.2-x", "\"127.0.0.2-x\" is not an address, a range or a network that can be searched (at most 4096 "
                        "addresses)."},
        {"--port 0 127.0.0.2", "--port needs a port number from 1 to 65535."},
        {"--wide 127.0.0.2", "Unknown option --wide.\nUsage: qrvssearch [--port N] [ADDRESS | FIRST-LAST | NET/BITS]..."},
    };
    for (const Case& refused : cases) {
        ToolRun run = tool.Run(refused.arguments);
        EXPECT_EQ(run.exitCode, 2u) << refused.arguments;
        EXPECT_EQ(run.boxes, std::vector<std::string>{refused.box});
    }
    ToolFolder noKey;
    WriteFileText(noKey.path() + "qrvcofig.ini", "[TWAIN]\r\nDriverName=Orvel TWAIN Connector\r\n");
    ToolRun run = noKey.Run("127.0.0.2");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.boxes, std::vector<std::string>{"qrvcofig.ini beside qrvssearch.exe names no product key (RegKey): "
                                                  "there is no device list to write."});
    WriteFileText(noKey.path() + "qrvcofig.ini", "[TWAIN]\r\nRegKey=QrvSearchTest\r\n[Search]\r\nPort=http\r\n");
    run = noKey.Run("127.0.0.2");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.boxes, std::vector<std::string>{"The port \"http\" in qrvcofig.ini is not a port number."});
    // A product key too long for a registry path: the search runs, the list cannot be written.
    WriteFileText(noKey.path() + "qrvcofig.ini", "[TWAIN]\r\nRegKey=" + std::string(300, 'k') + "\r\n");
    run = noKey.Run("--port 9 127.0.0.2");
    EXPECT_EQ(run.exitCode, 2u);
    EXPECT_EQ(run.boxes, std::vector<std::string>{"The device list could not be written to the registry."});
    EXPECT_EQ(ReadDeviceList().size(), 5u);
}
