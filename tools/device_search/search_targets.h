// The addresses a search probes: target lists as the INI file and the command line name them,
// the loopback guard, and the local subnets worked out from the machine's interfaces. Pure
// functions: nothing here touches the network.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// IPv4 addresses are held in host byte order.
struct ProbeTarget {
    uint32_t address = 0;
    uint16_t port = 0;
    bool operator==(const ProbeTarget&) const = default;
};

// More than this many addresses in one search is taken for a typing mistake.
constexpr size_t MaxTargets = 4096;

bool ParseIPv4(const std::string& text, uint32_t& address);
std::string FormatIPv4(uint32_t address);
bool IsLoopback(uint32_t address);

// Parses a list separated by commas, semicolons or blanks. Each item is an address
// ("192.168.1.10"), a range ("127.0.0.2-127.0.0.9" or "127.0.0.2-9"), or a prefix
// ("127.0.0.0/29", host addresses only), optionally followed by ":PORT". Items without a port
// take defaultPort. The targets are appended in order, without repeats; false and a message
// naming the item when an item cannot be read or the list grows past MaxTargets.
bool ParseTargetList(const std::string& text, uint16_t defaultPort, std::vector<ProbeTarget>& targets,
                     std::string& error);

// The guard's test: the first target outside 127.0.0.0/8 as text, or false when there is none.
bool FindOutsideLoopback(const std::vector<ProbeTarget>& targets, std::string& offender);

// One address of a network interface, as the system reports it.
struct InterfaceAddress {
    uint32_t address = 0;
    uint32_t netmask = 0;
    bool up = false;
    bool loopback = false;
    bool pointToPoint = false;
};

// The host addresses of the subnets of the interfaces that are up, neither loopback nor
// point-to-point. A subnet wider than /24 is narrowed to the /24 around the interface's own
// address so that a search stays short; the network and broadcast addresses are left out.
// Sorted, without repeats.
std::vector<uint32_t> SubnetAddresses(const std::vector<InterfaceAddress>& interfaces);
