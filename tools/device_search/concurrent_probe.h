// Probing many addresses at once over non-blocking sockets, each probe bounded by short
// time-outs, so that a search over hosts that never answer still ends in a few seconds.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "tools/device_search/search_targets.h"

struct ProbeTimeouts {
    int connectMs = 1500;  // from the start of a probe until the connection stands
    int answerMs = 2500;   // from the start of a probe until the whole answer is in
};

// More probes than this are never open at once.
constexpr int MaxOpenProbes = 128;

struct DeviceFound {
    uint32_t address = 0;
    std::string name;  // as the device sent it (UTF-8)
    std::string type;
};

// Probes every target and returns the devices that answered, sorted by address. done counts
// the probes finished so far (for the progress bar). When cancel becomes true the open probes
// are abandoned and the function returns soon. When loopbackOnly is set a target outside
// 127.0.0.0/8 is passed over without a socket ever being made for it.
std::vector<DeviceFound> ProbeTargets(const std::vector<ProbeTarget>& targets, const ProbeTimeouts& timeouts,
                                      bool loopbackOnly, const std::atomic<bool>& cancel,
                                      std::atomic<int>& done);
