#include "tools/acquire/acquire_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct ItemTypeName {
    const char* name;
    TW_UINT16 type;
};

const ItemTypeName ItemTypes[] = {
    {"int8", TWTY_INT8},     {"int16", TWTY_INT16}, {"int32", TWTY_INT32},
    {"uint8", TWTY_UINT8},   {"uint16", TWTY_UINT16}, {"uint32", TWTY_UINT32},
    {"bool", TWTY_BOOL},     {"fix32", TWTY_FIX32},
};

struct PixelTypeName {
    const char* name;
    TW_UINT16 type;
};

const PixelTypeName PixelTypes[] = {{"bw", TWPT_BW}, {"gray", TWPT_GRAY}, {"rgb", TWPT_RGB}};

bool Fail(std::string& error, const std::string& text)
{
    error = text;
    return false;
}

bool ParseInteger(const char* text, long long low, long long high, long long& value)
{
    if (!*text)
        return false;
    char* end = nullptr;
    errno = 0;
    value = strtoll(text, &end, 0);
    return errno == 0 && *end == 0 && value >= low && value <= high;
}

// TW_FIX32 as a one value holds Whole in its low and Frac in its high 16 bits.
bool ParseFix32(const char* text, TW_UINT32& item)
{
    char* end = nullptr;
    double value = strtod(text, &end);
    if (!*text || *end || !(value > -32768.0 && value < 32768.0))
        return false;
    long scaled = lround(value * 65536.0);
    TW_INT16 whole = TW_INT16(scaled >> 16);
    TW_UINT16 frac = TW_UINT16(scaled & 0xFFFF);
    item = TW_UINT16(whole) | TW_UINT32(frac) << 16;
    return true;
}

bool ParseItem(TW_UINT16 type, const char* text, TW_UINT32& item)
{
    if (type == TWTY_FIX32)
        return ParseFix32(text, item);
    long long value;
    switch (type) {
    case TWTY_INT8:
        if (!ParseInteger(text, -128, 127, value))
            return false;
        item = TW_UINT8(value);
        return true;
    case TWTY_INT16:
        if (!ParseInteger(text, -32768, 32767, value))
            return false;
        item = TW_UINT16(value);
        return true;
    case TWTY_INT32:
        if (!ParseInteger(text, INT32_MIN, INT32_MAX, value))
            return false;
        item = TW_UINT32(value);
        return true;
    case TWTY_UINT8:
        if (!ParseInteger(text, 0, 255, value))
            return false;
        item = TW_UINT32(value);
        return true;
    case TWTY_BOOL:
        if (!ParseInteger(text, 0, 1, value))
            return false;
        item = TW_UINT32(value);
        return true;
    case TWTY_UINT16:
        if (!ParseInteger(text, 0, 65535, value))
            return false;
        item = TW_UINT32(value);
        return true;
    default:  // TWTY_UINT32
        if (!ParseInteger(text, 0, UINT32_MAX, value))
            return false;
        item = TW_UINT32(value);
        return true;
    }
}

// ID=[TYPE:]VALUE, e.g. 0x1118=fix32:300 or 0x1002=bool:1; the type defaults to uint16.
bool ParseCapability(const char* text, CapabilitySetting& setting)
{
    std::string assignment(text);
    size_t equals = assignment.find('=');
    if (equals == std::string::npos)
        return false;
    long long cap;
    if (!ParseInteger(assignment.substr(0, equals).c_str(), 1, 0xFFFF, cap))
        return false;
    std::string value = assignment.substr(equals + 1);
    setting.itemType = TWTY_UINT16;
    size_t colon = value.find(':');
    if (colon != std::string::npos) {
        std::string typeName = value.substr(0, colon);
        bool known = false;
        for (const ItemTypeName& entry : ItemTypes)
            if (typeName == entry.name) {
                setting.itemType = entry.type;
                known = true;
            }
        if (!known)
            return false;
        value = value.substr(colon + 1);
    }
    setting.cap = TW_UINT16(cap);
    setting.text = text;
    return ParseItem(setting.itemType, value.c_str(), setting.item);
}

bool ParseMechanism(const char* text, Mechanism& mechanism)
{
    if (strcmp(text, "native") == 0)
        mechanism = Mechanism::Native;
    else if (strcmp(text, "file") == 0)
        mechanism = Mechanism::File;
    else if (strcmp(text, "memory") == 0)
        mechanism = Mechanism::Memory;
    else
        return false;
    return true;
}

bool ParsePixelType(const char* text, TW_UINT32& item)
{
    for (const PixelTypeName& entry : PixelTypes)
        if (strcmp(text, entry.name) == 0) {
            item = entry.type;
            return true;
        }
    long long value;
    if (!ParseInteger(text, 0, 65535, value))
        return false;
    item = TW_UINT32(value);
    return true;
}

// Handles one option that takes a value; false with error set when the value is bad.
bool ParseValueOption(const std::string& name, const char* value, AcquireOptions& options,
                      std::string& error)
{
    long long number;
    if (name == "--source") {
        options.source = value;
    } else if (name == "--manager") {
        options.manager = value;
    } else if (name == "--mech") {
        if (!ParseMechanism(value, options.mechanism))
            return Fail(error, "--mech takes native, file or memory");
    } else if (name == "--file-format") {
        if (strcmp(value, "bmp") == 0)
            options.fileFormat = TWFF_BMP;
        else if (strcmp(value, "tiff") == 0)
            options.fileFormat = TWFF_TIFF;
        else
            return Fail(error, "--file-format takes bmp or tiff");
    } else if (name == "--buffer") {
        if (!ParseInteger(value, 1, 0x7FFFFFFF, number))
            return Fail(error, "--buffer takes a size in bytes");
        options.bufferSize = TW_UINT32(number);
    } else if (name == "--page-delay-ms") {
        if (!ParseInteger(value, 0, 600000, number))
            return Fail(error, "--page-delay-ms takes milliseconds");
        options.pageDelayMs = int(number);
    } else if (name == "--resolution") {
        CapabilitySetting x{ICAP_XRESOLUTION, TWTY_FIX32, 0, std::string("resolution ") + value};
        if (!ParseFix32(value, x.item) || strtod(value, nullptr) <= 0)
            return Fail(error, "--resolution takes dots per inch");
        CapabilitySetting y = x;
        y.cap = ICAP_YRESOLUTION;
        options.capabilities.push_back(x);
        options.capabilities.push_back(y);
    } else if (name == "--pixel-type") {
        CapabilitySetting setting{ICAP_PIXELTYPE, TWTY_UINT16, 0, std::string("pixel type ") + value};
        if (!ParsePixelType(value, setting.item))
            return Fail(error, "--pixel-type takes bw, gray, rgb or a number");
        options.capabilities.push_back(setting);
    } else if (name == "--cap") {
        CapabilitySetting setting;
        if (!ParseCapability(value, setting))
            return Fail(error, std::string("--cap takes ID=[TYPE:]VALUE, not ") + value);
        options.capabilities.push_back(setting);
    } else if (name == "--out") {
        options.outputFolder = value;
    } else if (name == "--timeout") {
        if (!ParseInteger(value, 1, 86400, number))
            return Fail(error, "--timeout takes seconds");
        options.timeLimitSeconds = int(number);
    } else if (name == "--script") {
        options.scriptFiles.push_back(value);
    } else if (name == "--cycles") {
        if (!ParseInteger(value, 1, 1000000, number))
            return Fail(error, "--cycles takes a number of cycles");
        options.cycles = int(number);
    } else {
        return Fail(error, "unknown option " + name);
    }
    return true;
}

}  // namespace

bool ParseOptions(int argc, char** argv, AcquireOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--press-boxes") {
            options.pressBoxes = true;
        } else if (name == "--list") {
            options.listOnly = true;
        } else if (name == "--reenable") {
            options.reenable = true;
        } else if (name == "--keep-loaded") {
            options.keepLoaded = true;
        } else if (name == "--report-resources") {
            options.reportResources = true;
        } else if (name == "--layout") {
            options.layout = true;
        } else if (name.rfind("--", 0) == 0) {
            if (i + 1 >= argc)
                return Fail(error, name + " needs a value");
            if (!ParseValueOption(name, argv[++i], options, error))
                return false;
        } else {
            return Fail(error, "unexpected argument " + name);
        }
    }
    return true;
}

void PrintUsage()
{
    printf(
        "usage: twacquire [options]\n"
        "  --source NAME        the source's product name (default: the first found)\n"
        "  --manager DLL        the manager library to load (default: TWAINDSM.DLL on x64,\n"
        "                       TWAIN_32.DLL on x86)\n"
        "  --mech MECHANISM     native, file or memory (default native)\n"
        "  --file-format FORMAT bmp or tiff: what file transfers ask for (default bmp;\n"
        "                       TIFF pages are written as page001.tif ...)\n"
        "  --buffer BYTES       memory transfer buffer (default: the source's preferred size)\n"
        "  --page-delay-ms N    wait N ms after each page before ending it, as a slow application\n"
        "  --resolution DPI     ICAP_XRESOLUTION and ICAP_YRESOLUTION\n"
        "  --pixel-type TYPE    ICAP_PIXELTYPE: bw, gray, rgb or a number\n"
        "  --cap ID=[TYPE:]VALUE  any capability as a one value; TYPE is int8, int16, int32,\n"
        "                       uint8, uint16 (default), uint32, bool or fix32\n"
        "  --out FOLDER         where the pages go (default: the current folder)\n"
        "  --timeout SECONDS    time limit of the whole run, all cycles together (default 60)\n"
        "  --press-boxes        report and press every message box the process shows\n"
        "  --script FILE        drive the source's window with the commands in FILE; given\n"
        "                       again, the next cycle runs the next file (the last repeats)\n"
        "  --layout             report DAT_IMAGELAYOUT before enabling and for every page\n"
        "  --list               list the sources and stop\n"
        "session cycles:\n"
        "  --cycles N           open, negotiate, enable, acquire (running the window script),\n"
        "                       disable and close the source N times (default 1); the run\n"
        "                       stops after the first cycle with a failure\n"
        "  --reenable           between cycles only disable and enable again: the source is\n"
        "                       opened and negotiated once and closed after the last cycle\n"
        "  --keep-loaded        keep the source module loaded from the first open to the end,\n"
        "                       whatever the manager does at MSG_CLOSEDS (twacquire holds a\n"
        "                       reference of its own on it)\n"
        "  --report-resources   after cycle 10 and after the last cycle print\n"
        "                       \"resources: cycle=N working_set=BYTES handles=N threads=N temp_dirs=N\"\n"
        "                       (temp_dirs: folders in the process's temporary folder)\n");
}

const char* MechanismName(Mechanism mechanism)
{
    switch (mechanism) {
    case Mechanism::File:
        return "file";
    case Mechanism::Memory:
        return "memory";
    default:
        return "native";
    }
}
