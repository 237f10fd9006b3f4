#include "tools/device_search/target_choice.h"

bool ChooseTargets(const SearchSettings& settings, std::vector<InterfaceAddress> (*readInterfaces)(),
                   std::vector<ProbeTarget>& targets, std::string& error)
{
    targets.clear();
    std::string bad;
    if (!ParseTargetList(settings.namedTargets, settings.port, targets, bad)) {
        error = "\"" + bad + "\" is not an address, a range or a network that can be searched (at most " +
                std::to_string(MaxTargets) + " addresses).";
        return false;
    }
    if (!targets.empty()) {
        std::string outside;
        if (settings.loopbackOnly && FindOutsideLoopback(targets, outside)) {
            error = std::string(LoopbackGuardVariable) + " is set: " + outside +
                    " is outside 127.0.0.0/8 and is not searched.";
            return false;
        }
        return true;
    }
    // Decided before the interfaces are even read: under the guard the local subnets are never
    // searched.
    if (settings.loopbackOnly) {
        error = std::string(LoopbackGuardVariable) +
                " is set and no address is named: the local subnets are not searched.";
        return false;
    }
    for (uint32_t address : SubnetAddresses(readInterfaces()))
        targets.push_back({address, settings.port});
    return true;
}
