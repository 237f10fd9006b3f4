// The machine's IPv4 interface addresses, as the socket layer reports them. Reading them sends
// nothing.
#pragma once

#include <vector>

#include "tools/device_search/search_targets.h"

std::vector<InterfaceAddress> LocalInterfaces();
