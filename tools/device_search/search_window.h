// The small window shown while a search runs: what it is doing, a progress bar and Cancel. The
// probes run on a worker thread; this thread keeps the window alive.
#pragma once

#include <vector>

#include "tools/device_search/concurrent_probe.h"

enum class SearchOutcome { Finished, Cancelled };

// Caption of the window and of the tool's message boxes.
constexpr const char* SearchCaption = "Device search";

SearchOutcome RunSearchWindow(const std::vector<ProbeTarget>& targets, bool loopbackOnly,
                              std::vector<DeviceFound>& found);
