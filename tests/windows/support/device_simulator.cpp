#include "tests/windows/support/device_simulator.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#ifndef QRV_NATIVE_BUILD_DIR
#error "QRV_NATIVE_BUILD_DIR names the native build folder (a Unix path)"
#endif

namespace {

typedef char*(CDECL* UnixFileNameProc)(const WCHAR*);

std::string NativeBuildFolder()
{
    const char* overridden = getenv("QRV_NATIVE_BUILD_DIR");
    return overridden && *overridden ? overridden : QRV_NATIVE_BUILD_DIR;
}

std::string Quote(const std::string& argument) { return "\"" + argument + "\""; }

}  // namespace

std::string UnixPath(const std::string& windowsPath)
{
    static auto toUnix = reinterpret_cast<UnixFileNameProc>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!toUnix)
        return {};
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH);
    char* unix = toUnix(wide);
    if (!unix)
        return {};
    std::string path = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

std::string WindowsPathOfUnix(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string SampleStorageUnix() { return NativeBuildFolder() + "/tools/device_simulator/sample"; }
std::string TestDocumentsUnix() { return NativeBuildFolder() + "/testdata/documents"; }
std::string SampleStorageFolder() { return WindowsPathOfUnix(SampleStorageUnix()) + "\\"; }

DeviceSimulator::DeviceSimulator(const std::vector<std::string>& switches, std::string storageUnix)
{
    if (storageUnix.empty())
        storageUnix = SampleStorageUnix();
    std::string program = WindowsPathOfUnix(NativeBuildFolder() + "/tools/device_simulator/device_simulator");
    if (!FileExists(program)) {
        fprintf(stderr, "device simulator missing: %s (build the native preset first)\n", program.c_str());
        return;
    }
    std::string folder = UnixPath(folder_.path());
    std::string command = Quote(program) + " --storage " + Quote(storageUnix) + " --port-file " +
                          Quote(folder + "port") + " --record " + Quote(folder + "requests") + " --lifetime 600";
    for (const std::string& option : switches)
        command += " " + Quote(option);

    // Wine starts a Unix program detached: no handle comes back, so the port file is the only
    // link, both ways.
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return;
    if (process.hProcess)
        CloseHandle(process.hProcess);
    if (process.hThread)
        CloseHandle(process.hThread);
    running_ = true;
    for (int waited = 0; waited < 10000; waited += 20) {
        std::string text = ReadFileText(folder_ / "port");
        if (!text.empty() && text.back() == '\n') {
            port_ = atoi(text.c_str());
            return;
        }
        Sleep(20);
    }
}

DeviceSimulator::~DeviceSimulator()
{
    // The simulator ends by itself once its port file is gone.
    if (running_)
        DeleteFileA((folder_ / "port").c_str());
}

namespace {

bool Listening(int port)
{
    SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe == INVALID_SOCKET)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    closesocket(probe);
    return connected;
}

}  // namespace

void DeviceSimulator::Stop()
{
    if (!running_)
        return;
    running_ = false;
    DeleteFileA((folder_ / "port").c_str());
    static WSADATA winsock;
    static bool started = WSAStartup(MAKEWORD(2, 2), &winsock) == 0;
    for (int waited = 0; started && waited < 5000 && Listening(port_); waited += 50)
        Sleep(50);
}

std::string DeviceSimulator::Requests() const { return ReadFileText(folder_ / "requests"); }

int DeviceSimulator::RequestCount() const
{
    std::string text = Requests();
    int count = 0;
    for (size_t at = 0; (at = text.find("== ", at)) != std::string::npos; at += 3)
        if (at == 0 || text[at - 1] == '\n')
            ++count;
    return count;
}

CustomStorage::CustomStorage(const std::string& storageXml) { WriteFileText(folder_ / "storage.xml", storageXml); }

std::string CustomStorage::unixPath() const
{
    std::string path = UnixPath(folder_.path());
    if (!path.empty() && path.back() == '/')
        path.pop_back();
    return path;
}
