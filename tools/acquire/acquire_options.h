// The acquisition application's command line.
#pragma once

#include <string>
#include <vector>

#include "source/twain.h"

enum class Mechanism { Native, File, Memory };

// A capability set as a one value before the source is enabled.
struct CapabilitySetting {
    TW_UINT16 cap;
    TW_UINT16 itemType;
    TW_UINT32 item;  // the value's bytes, as a TW_ONEVALUE holds them
    std::string text;
};

struct AcquireOptions {
    std::string source;  // ProductName; empty: the first source found
    std::string manager;  // the manager library's name; empty: the architecture's own
    Mechanism mechanism = Mechanism::Native;
    TW_UINT16 fileFormat = TWFF_BMP;  // of file transfers: TWFF_BMP or TWFF_TIFF
    TW_UINT32 bufferSize = 0;  // memory transfer buffer; 0: the source's preferred size
    int pageDelayMs = 0;       // a slow application: the wait after each page before MSG_ENDXFER
    std::vector<CapabilitySetting> capabilities;
    std::string outputFolder = ".";
    int timeLimitSeconds = 60;
    bool pressBoxes = false;
    // Window scripts, one per session cycle; the last one runs again in the cycles after it.
    std::vector<std::string> scriptFiles;
    bool listOnly = false;
    // Session cycles: open, negotiate, enable, acquire, disable, close, this many times.
    int cycles = 1;
    bool reenable = false;        // between cycles only disable and enable again
    bool keepLoaded = false;      // hold the source module loaded from the first open on
    bool reportResources = false; // the process's resources after cycle 10 and the last
    bool layout = false;          // DAT_IMAGELAYOUT before enabling and for every page
};

// false with a message in error for a bad command line.
bool ParseOptions(int argc, char** argv, AcquireOptions& options, std::string& error);
void PrintUsage();
const char* MechanismName(Mechanism mechanism);
