// Deciding what a search probes: the named targets, checked against the loopback guard, or,
// only when nothing is named and the guard is not set, the local subnets.
#pragma once

#include <string>
#include <vector>

#include "tools/device_search/search_settings.h"
#include "tools/device_search/search_targets.h"

// readInterfaces is called only when the local subnets are to be searched. False and the
// message to show when the targets cannot be read or the guard refuses them.
bool ChooseTargets(const SearchSettings& settings, std::vector<InterfaceAddress> (*readInterfaces)(),
                   std::vector<ProbeTarget>& targets, std::string& error);
