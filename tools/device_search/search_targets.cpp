#include "tools/device_search/search_targets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

bool ParseNumber(const std::string& text, unsigned long limit, unsigned long& value)
{
    if (text.empty() || text.size() > 5)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    return value <= limit;
}

bool AddRange(uint32_t first, uint32_t last, uint16_t port, std::vector<ProbeTarget>& targets)
{
    if (last < first)
        return false;
    for (uint64_t address = first; address <= last; ++address) {
        ProbeTarget target{static_cast<uint32_t>(address), port};
        if (std::find(targets.begin(), targets.end(), target) != targets.end())
            continue;
        if (targets.size() >= MaxTargets)
            return false;
        targets.push_back(target);
    }
    return true;
}

// One item of a list: address, range or prefix, with an optional port.
bool ParseItem(std::string item, uint16_t port, std::vector<ProbeTarget>& targets)
{
    size_t colon = item.find(':');
    if (colon != std::string::npos) {
        unsigned long number = 0;
        if (!ParseNumber(item.substr(colon + 1), 65535, number) || number == 0)
            return false;
        port = static_cast<uint16_t>(number);
        item.resize(colon);
    }
    uint32_t first = 0, last = 0;
    size_t dash = item.find('-'), slash = item.find('/');
    if (dash != std::string::npos) {
        if (!ParseIPv4(item.substr(0, dash), first))
            return false;
        std::string end = item.substr(dash + 1);
        unsigned long lastPart = 0;
        if (end.find('.') == std::string::npos) {
            if (!ParseNumber(end, 255, lastPart))
                return false;
            last = (first & 0xFFFFFF00u) | lastPart;
        } else if (!ParseIPv4(end, last)) {
            return false;
        }
        return AddRange(first, last, port, targets);
    }
    if (slash != std::string::npos) {
        unsigned long bits = 0;
        if (!ParseIPv4(item.substr(0, slash), first) || !ParseNumber(item.substr(slash + 1), 32, bits))
            return false;
        if (bits >= 31)
            return AddRange(first, first | (bits == 31 ? 1u : 0u), port, targets);
        uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
        uint32_t network = first & mask;
        uint32_t broadcast = network | ~mask;
        if (broadcast - network - 1 > MaxTargets)
            return false;
        return AddRange(network + 1, broadcast - 1, port, targets);
    }
    if (!ParseIPv4(item, first))
        return false;
    return AddRange(first, first, port, targets);
}

}  // namespace

bool ParseIPv4(const std::string& text, uint32_t& address)
{
    uint32_t result = 0;
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos)
            return false;
        unsigned long value = 0;
        std::string digits = text.substr(start, end - start);
        if (digits.size() > 3 || !ParseNumber(digits, 255, value))
            return false;
        result = (result << 8) | value;
        start = end + 1;
    }
    address = result;
    return true;
}

std::string FormatIPv4(uint32_t address)
{
    char text[16];
    snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 255, (address >> 8) & 255,
             address & 255);
    return text;
}

bool IsLoopback(uint32_t address) { return (address >> 24) == 127; }

bool ParseTargetList(const std::string& text, uint16_t defaultPort, std::vector<ProbeTarget>& targets,
                     std::string& error)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(",; \t", start);
        if (end == std::string::npos)
            end = text.size();
        std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty())
            continue;
        if (!ParseItem(item, defaultPort, targets)) {
            error = item;
            return false;
        }
    }
    return true;
}

bool FindOutsideLoopback(const std::vector<ProbeTarget>& targets, std::string& offender)
{
    for (const ProbeTarget& target : targets)
        if (!IsLoopback(target.address)) {
            offender = FormatIPv4(target.address);
            return true;
        }
    return false;
}

std::vector<uint32_t> SubnetAddresses(const std::vector<InterfaceAddress>& interfaces)
{
    std::vector<uint32_t> addresses;
    for (const InterfaceAddress& entry : interfaces) {
        if (!entry.up || entry.loopback || entry.pointToPoint || IsLoopback(entry.address))
            continue;
        uint32_t mask = entry.netmask;
        // A mask must be ones then zeros; anything else is not a subnet.
        if (mask == 0 || (~mask & (~mask + 1)) != 0)
            continue;
        mask = std::max(mask, 0xFFFFFF00u);
        uint32_t network = entry.address & mask;
        uint32_t broadcast = network | ~mask;
        if (broadcast - network < 2)
            continue;
        for (uint32_t address = network + 1; address < broadcast; ++address)
            addresses.push_back(address);
    }
    std::sort(addresses.begin(), addresses.end());
    addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());
    return addresses;
}
