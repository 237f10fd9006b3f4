// select() must see every open probe at once.
#define FD_SETSIZE 256
#include <winsock2.h>
#include <ws2tcpip.h>

#include "tools/device_search/concurrent_probe.h"

#include <algorithm>

#include "tools/device_search/probe_answer.h"

static_assert(MaxOpenProbes <= FD_SETSIZE);

namespace {

struct OpenProbe {
    ProbeTarget target;
    SOCKET socket = INVALID_SOCKET;
    ULONGLONG started = 0;
    bool connected = false;
    std::string received;
};

bool SendRequest(OpenProbe& probe);

// Starts a non-blocking connection; false when it failed at once (refused, no route).
bool StartProbe(OpenProbe& probe)
{
    probe.socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (probe.socket == INVALID_SOCKET)
        return false;
    u_long nonBlocking = 1;
    ioctlsocket(probe.socket, FIONBIO, &nonBlocking);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(probe.target.address);
    address.sin_port = htons(probe.target.port);
    probe.started = GetTickCount64();
    if (connect(probe.socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return SendRequest(probe);
    return WSAGetLastError() == WSAEWOULDBLOCK;
}

// The connection stands: the request goes out whole (it is far smaller than any send buffer).
bool SendRequest(OpenProbe& probe)
{
    int error = 0, length = sizeof error;
    if (getsockopt(probe.socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error != 0)
        return false;
    probe.connected = true;
    std::string request = ProbeRequest(FormatIPv4(probe.target.address), probe.target.port);
    return send(probe.socket, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size());
}

// Reads what is there; returns the answer's state so far.
ProbeAnswer ReceiveAnswer(OpenProbe& probe, DeviceFound& device)
{
    char buffer[2048];
    int got = recv(probe.socket, buffer, sizeof buffer, 0);
    bool closed = got <= 0;
    if (got > 0)
        probe.received.append(buffer, static_cast<size_t>(std::min<size_t>(got, MaxProbeAnswer + 1)));
    ProbeAnswer answer = ReadProbeAnswer(probe.received, closed, device.name, device.type);
    if (answer == ProbeAnswer::Incomplete && closed)
        return ProbeAnswer::NotDevice;
    device.address = probe.target.address;
    return answer;
}

void Finish(std::vector<OpenProbe>& open, size_t index, std::atomic<int>& done)
{
    if (open[index].socket != INVALID_SOCKET)
        closesocket(open[index].socket);
    open.erase(open.begin() + static_cast<std::ptrdiff_t>(index));
    ++done;
}

}  // namespace

std::vector<DeviceFound> ProbeTargets(const std::vector<ProbeTarget>& targets, const ProbeTimeouts& timeouts,
                                      bool loopbackOnly, const std::atomic<bool>& cancel,
                                      std::atomic<int>& done)
{
    std::vector<DeviceFound> found;
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return found;
    std::vector<OpenProbe> open;
    size_t next = 0;
    while (!cancel && (next < targets.size() || !open.empty())) {
        while (next < targets.size() && open.size() < static_cast<size_t>(MaxOpenProbes)) {
            OpenProbe probe;
            probe.target = targets[next++];
            if (loopbackOnly && !IsLoopback(probe.target.address)) {
                ++done;
                continue;
            }
            open.push_back(probe);
            if (!StartProbe(open.back()))
                Finish(open, open.size() - 1, done);
        }
        if (open.empty())
            continue;
        fd_set readable, writable, failed;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        for (const OpenProbe& probe : open) {
            if (probe.connected) {
                FD_SET(probe.socket, &readable);
            } else {
                FD_SET(probe.socket, &writable);
                FD_SET(probe.socket, &failed);
            }
        }
        // A short wait, so that time-outs and Cancel are seen promptly.
        timeval wait{0, 50 * 1000};
        if (select(0, &readable, &writable, &failed, &wait) == SOCKET_ERROR)
            Sleep(50);
        ULONGLONG now = GetTickCount64();
        for (size_t i = open.size(); i-- > 0;) {
            OpenProbe& probe = open[i];
            bool over = false;
            if (!probe.connected) {
                if (FD_ISSET(probe.socket, &failed))
                    over = true;
                else if (FD_ISSET(probe.socket, &writable))
                    over = !SendRequest(probe);
                else
                    over = now - probe.started >= static_cast<ULONGLONG>(timeouts.connectMs);
            } else if (FD_ISSET(probe.socket, &readable)) {
                DeviceFound device;
                ProbeAnswer answer = ReceiveAnswer(probe, device);
                if (answer == ProbeAnswer::Device)
                    found.push_back(device);
                over = answer != ProbeAnswer::Incomplete;
            }
            if (!over && now - probe.started >= static_cast<ULONGLONG>(timeouts.answerMs))
                over = true;
            if (over)
                Finish(open, i, done);
        }
    }
    for (OpenProbe& probe : open)
        closesocket(probe.socket);
    WSACleanup();
    std::sort(found.begin(), found.end(),
              [](const DeviceFound& a, const DeviceFound& b) { return a.address < b.address; });
    return found;
}
