#include <winsock2.h>
#include <ws2tcpip.h>

#include "tools/device_search/local_interfaces.h"

std::vector<InterfaceAddress> LocalInterfaces()
{
    std::vector<InterfaceAddress> result;
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0)
        return result;
    // The list is asked of an unbound, unconnected socket; nothing goes out on it.
    SOCKET query = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (query != INVALID_SOCKET) {
        INTERFACE_INFO entries[64];
        DWORD bytes = 0;
        if (WSAIoctl(query, SIO_GET_INTERFACE_LIST, nullptr, 0, entries, sizeof entries, &bytes, nullptr, nullptr) ==
            0) {
            size_t count = bytes / sizeof entries[0];
            for (size_t i = 0; i < count && i < 64; ++i) {
                const INTERFACE_INFO& entry = entries[i];
                if (entry.iiAddress.Address.sa_family != AF_INET)
                    continue;
                InterfaceAddress item;
                item.address = ntohl(entry.iiAddress.AddressIn.sin_addr.s_addr);
                item.netmask = ntohl(entry.iiNetmask.AddressIn.sin_addr.s_addr);
                item.up = (entry.iiFlags & IFF_UP) != 0;
                item.loopback = (entry.iiFlags & IFF_LOOPBACK) != 0;
                item.pointToPoint = (entry.iiFlags & IFF_POINTTOPOINT) != 0;
                result.push_back(item);
            }
        }
        closesocket(query);
    }
    WSACleanup();
    return result;
}
