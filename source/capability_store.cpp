#include "source/capability_store.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "device/config_store.h"

CapabilityEntry CapabilityTable[CapabilitySlots];
int PaperSizeType = 0;
bool ResolutionChangeRequested = false;

namespace {

// The module-wide value cells. Allowed values are fixed; defaults and current values start
// equal and live as long as the module, so a value set in one open period is still current in
// the next.
struct Values16 {
    TW_UINT16 items[26];
    TW_UINT16 defaults[1];
    TW_UINT16 current[1];
};

const TW_UINT16 SupportedCaps[] = {
    0x1005, 0x1002, 0x0103, 0x111F, 0x1120, 0x0100, 0x1111, 0x1112, 0x1130, 0x1131, 0x0102,
    0x100F, 0x1010, 0x1007, 0x1003, 0x1100, 0x1101, 0x1103, 0x110A, 0x1110, 0x1113, 0x1124,
    0x1125, 0x0101, 0x112B, 0x112C, 0x111C, 0x1109, 0x1123, 0x1114, 0x111A, 0x1122, 0x1116,
    0x1117, 0x1118, 0x1119, 0x0001, 0x110C, 0x112D, 0x100B, 0x100E, 0x1012, 0x1013,
};
static_assert(sizeof SupportedCaps / sizeof SupportedCaps[0] == 43);

TW_UINT16 SupportedCapsDefault[43];
TW_UINT16 SupportedCapsCurrent[43];

// One record of cells per capability, in table order.
enum CellIndex {
    FeederEnabled, PixelFlavor, XferMech, PlanarChunky, Compression, Units, DeviceOnline,
    AutoFeed, FeederLoaded, AutoBright, Orientation, BitDepthBw, BitDepthGray, BitDepthRgb,
    PixelType, BitDepthReduction, BitOrder, MaxFrames, SupportedSizes, XferCount,
    ImageFileFormat, UndefinedImageSize, Indicators, UiControllable, Duplex, DuplexEnabled,
    Cells16Count
};
Values16 Cells16[Cells16Count];

enum FloatIndex {
    MinimumWidth, MinimumHeight, PhysicalWidth, PhysicalHeight, Brightness, Contrast, Highlight,
    Shadow, Scaling, XNativeResolution, YNativeResolution, XResolution, YResolution, Threshold,
    CellsFloatCount
};
struct ValuesFloat {
    float items[4];
    float defaults[1];
    float current[1];
};
ValuesFloat CellsFloat[CellsFloatCount];

struct ValuesString {
    char items[2][34];
    char defaults[1][34];
    char current[1][34];
};
ValuesString Halftones;

struct ValuesFrame {
    StoredFrame items[1];
    StoredFrame defaults[1];
    StoredFrame current[1];
};
ValuesFrame Frames;

// How each entry is laid out, in table order; the cells above hold its values.
struct EntryPlan {
    TW_UINT16 cap;
    TW_UINT16 itemType;
    TW_UINT16 getContainer;
    TW_UINT32 supported;
    int cell;  // index into the cells of the item type
};

constexpr TW_UINT16 BOOL16 = TWTY_BOOL;
constexpr TW_UINT16 U16 = TWTY_UINT16;
constexpr TW_UINT16 I16 = TWTY_INT16;
constexpr TW_UINT16 FIX = TWTY_FIX32;
constexpr TW_UINT32 R = ReadOnlyOperations;
constexpr TW_UINT32 S = SettableOperations;

const EntryPlan Plans[CapabilityEntries] = {
    {CAP_SUPPORTEDCAPS, U16, TWON_ARRAY, R, -1},
    {CAP_FEEDERENABLED, BOOL16, TWON_ONEVALUE, S, FeederEnabled},
    {ICAP_PIXELFLAVOR, U16, TWON_ENUMERATION, S, PixelFlavor},
    {ICAP_XFERMECH, U16, TWON_ENUMERATION, S, XferMech},
    {ICAP_PLANARCHUNKY, U16, TWON_ENUMERATION, R, PlanarChunky},
    {ICAP_COMPRESSION, U16, TWON_ENUMERATION, S, Compression},
    {ICAP_MINIMUMWIDTH, FIX, TWON_ONEVALUE, R, MinimumWidth},
    {ICAP_MINIMUMHEIGHT, FIX, TWON_ONEVALUE, R, MinimumHeight},
    {ICAP_PHYSICALWIDTH, FIX, TWON_ONEVALUE, R, PhysicalWidth},
    {ICAP_PHYSICALHEIGHT, FIX, TWON_ONEVALUE, R, PhysicalHeight},
    {ICAP_UNITS, U16, TWON_ENUMERATION, S, Units},
    {CAP_DEVICEONLINE, BOOL16, TWON_ONEVALUE, R, DeviceOnline},
    {CAP_AUTOFEED, BOOL16, TWON_ONEVALUE, R, AutoFeed},
    {CAP_FEEDERLOADED, BOOL16, TWON_ONEVALUE, R, FeederLoaded},
    {ICAP_AUTOBRIGHT, BOOL16, TWON_ONEVALUE, S, AutoBright},
    {ICAP_BRIGHTNESS, FIX, TWON_RANGE, S, Brightness},
    {ICAP_CONTRAST, FIX, TWON_RANGE, S, Contrast},
    {ICAP_HIGHLIGHT, FIX, TWON_RANGE, S, Highlight},
    {ICAP_ORIENTATION, U16, TWON_ENUMERATION, S, Orientation},
    {ICAP_SHADOW, FIX, TWON_RANGE, S, Shadow},
    {ICAP_XSCALING, FIX, TWON_ENUMERATION, S, Scaling},
    {ICAP_YSCALING, FIX, TWON_ENUMERATION, S, Scaling},
    {BitDepthForBlackWhite, U16, TWON_ENUMERATION, S, BitDepthBw},
    {BitDepthForBlackWhite + 1, U16, TWON_ENUMERATION, S, BitDepthGray},
    {BitDepthForBlackWhite + 2, U16, TWON_ENUMERATION, S, BitDepthRgb},
    {ICAP_PIXELTYPE, U16, TWON_ENUMERATION, S, PixelType},
    {ICAP_BITDEPTHREDUCTION, U16, TWON_ENUMERATION, S, BitDepthReduction},
    {ICAP_BITORDER, U16, TWON_ENUMERATION, R, BitOrder},
    {ICAP_THRESHOLD, FIX, TWON_RANGE, S, Threshold},
    {ICAP_HALFTONES, TWTY_STR32, TWON_ENUMERATION, S, 0},
    {ICAP_FRAMES, TWTY_FRAME, TWON_ONEVALUE, S, 0},
    {ICAP_MAXFRAMES, U16, TWON_ONEVALUE, R, MaxFrames},
    {ICAP_SUPPORTEDSIZES, U16, TWON_ENUMERATION, S, SupportedSizes},
    {ICAP_XNATIVERESOLUTION, FIX, TWON_ONEVALUE, R, XNativeResolution},
    {ICAP_YNATIVERESOLUTION, FIX, TWON_ONEVALUE, R, YNativeResolution},
    {ICAP_XRESOLUTION, FIX, TWON_ENUMERATION, S, XResolution},
    {ICAP_YRESOLUTION, FIX, TWON_ENUMERATION, S, YResolution},
    {CAP_XFERCOUNT, I16, TWON_ONEVALUE, S, XferCount},
    {ICAP_IMAGEFILEFORMAT, U16, TWON_ENUMERATION, S, ImageFileFormat},
    {ICAP_UNDEFINEDIMAGESIZE, BOOL16, TWON_ONEVALUE, S, UndefinedImageSize},
    {CAP_INDICATORS, BOOL16, TWON_ONEVALUE, S, Indicators},
    {CAP_UICONTROLLABLE, BOOL16, TWON_ONEVALUE, R, UiControllable},
    {CAP_DUPLEX, U16, TWON_ENUMERATION, S, Duplex},
    {CAP_DUPLEXENABLED, BOOL16, TWON_ONEVALUE, R, DuplexEnabled},
};

struct Initial16 {
    int cell;
    int count;
    int items[26];
    int value;  // default and initial current
};

const Initial16 Initials16[] = {
    {FeederEnabled, 1, {1}, 0},
    {PixelFlavor, 1, {TWPF_CHOCOLATE}, TWPF_CHOCOLATE},
    {XferMech, 3, {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY}, TWSX_MEMORY},
    {PlanarChunky, 2, {TWPC_CHUNKY, TWPC_PLANAR}, TWPC_CHUNKY},
    {Compression, 1, {TWCP_NONE}, TWCP_NONE},
    {Units, 3, {TWUN_INCHES, TWUN_CENTIMETERS, TWUN_PIXELS}, TWUN_INCHES},
    {DeviceOnline, 2, {1, 0}, 1},
    {AutoFeed, 2, {1, 0}, 1},
    {FeederLoaded, 2, {0, 1}, 0},
    {AutoBright, 2, {1, 0}, 0},
    {Orientation, 4, {TWOR_ROT0, TWOR_ROT90, TWOR_ROT180, TWOR_ROT270}, TWOR_ROT0},
    {BitDepthBw, 1, {1}, 1},
    {BitDepthGray, 1, {8}, 8},
    {BitDepthRgb, 1, {24}, 24},
    {PixelType, 2, {TWPT_BW, TWPT_GRAY}, TWPT_BW},
    {BitDepthReduction, 3, {TWBR_THRESHOLD, TWBR_HALFTONE, TWBR_DIFFUSION}, TWBR_THRESHOLD},
    {BitOrder, 2, {TWBO_MSBFIRST, TWBO_LSBFIRST}, TWBO_MSBFIRST},
    {MaxFrames, 1, {1}, 1},
    {SupportedSizes, 4, {TWSS_NONE, TWSS_A4LETTER, TWSS_B4, TWSS_A3}, TWSS_A4LETTER},
    {XferCount, 26, {-1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                     21, 22, 23, 24, 25}, -1},
    {ImageFileFormat, 2, {TWFF_TIFF, TWFF_BMP}, TWFF_TIFF},
    {UndefinedImageSize, 2, {0, 1}, 1},
    {Indicators, 2, {1, 0}, 1},
    {UiControllable, 2, {0, 0}, 0},
    {Duplex, 1, {TWDX_NONE}, TWDX_NONE},
    {DuplexEnabled, 1, {0}, 0},
};

struct InitialFloat {
    int cell;
    int count;
    float items[4];
    float value;
};

const InitialFloat InitialsFloat[] = {
    {MinimumWidth, 1, {1.0f}, 1.0f},
    {MinimumHeight, 1, {1.0f}, 1.0f},
    {PhysicalWidth, 2, {8.64f, 0.0f}, 8.64f},
    {PhysicalHeight, 1, {11.0f}, 11.0f},
    {Brightness, 3, {-1000.0f, 1000.0f, 1000.0f}, 0.0f},
    {Contrast, 3, {-1000.0f, 1000.0f, 1000.0f}, 0.0f},
    {Highlight, 3, {0.0f, 255.0f, 1.0f}, 128.0f},
    {Shadow, 3, {0.0f, 255.0f, 1.0f}, 128.0f},
    {Scaling, 1, {100.0f}, 100.0f},
    {XNativeResolution, 1, {600.0f}, 600.0f},
    {YNativeResolution, 1, {600.0f}, 600.0f},
    {XResolution, 4, {200.0f, 300.0f, 400.0f, 600.0f}, 200.0f},
    {YResolution, 4, {200.0f, 300.0f, 400.0f, 600.0f}, 200.0f},
    {Threshold, 3, {0.0f, 255.0f, 1.0f}, 128.0f},
};

int ItemCountOf(const EntryPlan& plan)
{
    if (plan.cap == CAP_SUPPORTEDCAPS)
        return 43;
    if (plan.itemType == TWTY_STR32)
        return 2;
    if (plan.itemType == TWTY_FRAME)
        return 1;
    if (plan.itemType == TWTY_FIX32) {
        for (const InitialFloat& initial : InitialsFloat)
            if (initial.cell == plan.cell)
                return initial.count;
        return 0;
    }
    for (const Initial16& initial : Initials16)
        if (initial.cell == plan.cell)
            return initial.count;
    return 0;
}

CapabilityEntry EntryOf(const EntryPlan& plan)
{
    CapabilityEntry entry = {};
    entry.Cap = plan.cap;
    entry.ItemType = plan.itemType;
    entry.GetContainer = plan.getContainer;
    entry.CurrentContainer = plan.cap == CAP_SUPPORTEDCAPS ? TWON_ARRAY : TWON_ONEVALUE;
    entry.Supported = plan.supported;
    entry.ItemCount = static_cast<TW_UINT32>(ItemCountOf(plan));
    entry.DefaultCount = 1;
    entry.CurrentCount = 1;
    if (plan.cap == CAP_SUPPORTEDCAPS) {
        entry.Items = const_cast<TW_UINT16*>(SupportedCaps);
        entry.Default = SupportedCapsDefault;
        entry.Current = SupportedCapsCurrent;
        entry.DefaultCount = entry.CurrentCount = 43;
    } else if (plan.itemType == TWTY_STR32) {
        entry.Items = Halftones.items;
        entry.Default = Halftones.defaults;
        entry.Current = Halftones.current;
    } else if (plan.itemType == TWTY_FRAME) {
        entry.Items = Frames.items;
        entry.Default = Frames.defaults;
        entry.Current = Frames.current;
    } else if (plan.itemType == TWTY_FIX32) {
        ValuesFloat& cells = CellsFloat[plan.cell];
        entry.Items = cells.items;
        entry.Default = cells.defaults;
        entry.Current = cells.current;
    } else {
        Values16& cells = Cells16[plan.cell];
        entry.Items = cells.items;
        entry.Default = cells.defaults;
        entry.Current = cells.current;
    }
    return entry;
}

bool LetterCountry(int code)
{
    return code == 1 || code == 2 || (code >= 50 && code <= 59) || (code >= 500 && code <= 599);
}

}  // namespace

TW_UINT32 ItemSize(TW_UINT16 itemType)
{
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_FRAME:
        return 16;
    case TWTY_STR32:
    case TWTY_STR64:
    case TWTY_STR128:
    case TWTY_STR255:
        return 34;
    default:
        return 4;
    }
}

void InitCapabilityValues()
{
    memcpy(SupportedCapsDefault, SupportedCaps, sizeof SupportedCaps);
    memcpy(SupportedCapsCurrent, SupportedCaps, sizeof SupportedCaps);
    memset(Cells16, 0, sizeof Cells16);
    for (const Initial16& initial : Initials16) {
        Values16& cells = Cells16[initial.cell];
        for (int i = 0; i < initial.count; ++i)
            cells.items[i] = static_cast<TW_UINT16>(initial.items[i]);
        cells.defaults[0] = cells.current[0] = static_cast<TW_UINT16>(initial.value);
    }
    memset(CellsFloat, 0, sizeof CellsFloat);
    for (const InitialFloat& initial : InitialsFloat) {
        ValuesFloat& cells = CellsFloat[initial.cell];
        memcpy(cells.items, initial.items, sizeof cells.items);
        cells.defaults[0] = cells.current[0] = initial.value;
    }
    memset(&Halftones, 0, sizeof Halftones);
    strcpy(Halftones.items[0], "FLOYD/STEINBURG");
    strcpy(Halftones.items[1], "ORDERED");
    strcpy(Halftones.defaults[0], "FLOYD/STEINBURG");
    strcpy(Halftones.current[0], "FLOYD/STEINBURG");
    Frames.items[0] = Frames.defaults[0] = Frames.current[0] = {0.0f, 0.0f, 8.5f, 11.0f};
    ResolutionChangeRequested = false;
    ClearCapabilityTable();
}

int SettlePaperSizeType()
{
    int sizeType = ReadIniInt("TWAIN", "SizeType", -1);
    if (sizeType == 0 || sizeType == 1)
        return sizeType;
    char country[16];
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_ICOUNTRY, country, sizeof country) <= 0)
        return 0;
    return LetterCountry(atoi(country)) ? 1 : 0;
}

void BuildCapabilityTable()
{
    PaperSizeType = SettlePaperSizeType();
    ClearCapabilityTable();
    for (int i = 0; i < CapabilityEntries; ++i)
        CapabilityTable[i] = EntryOf(Plans[i]);
}

void ClearCapabilityTable() { memset(CapabilityTable, 0, sizeof CapabilityTable); }

CapabilityEntry* FindCapability(TW_UINT16 cap)
{
    for (CapabilityEntry& entry : CapabilityTable)
        if (entry.Cap == cap && entry.Items)
            return &entry;
    return nullptr;
}

// The accessors work on the value cells, so they answer whether or not the table is built.
float GetXResolution() { return CellsFloat[XResolution].current[0]; }
void SetXResolution(float dpi) { CellsFloat[XResolution].current[0] = dpi; }
float GetYResolution() { return CellsFloat[YResolution].current[0]; }
void SetYResolution(float dpi) { CellsFloat[YResolution].current[0] = dpi; }
int GetPixelType() { return Cells16[PixelType].current[0]; }
void SetPixelType(int pixelType) { Cells16[PixelType].current[0] = static_cast<TW_UINT16>(pixelType); }
bool GetFeederEnabled() { return Cells16[FeederEnabled].current[0] != 0; }
void SetFeederEnabled(bool enabled) { Cells16[FeederEnabled].current[0] = enabled ? 1 : 0; }
int GetXferCount() { return static_cast<TW_INT16>(Cells16[XferCount].current[0]); }
int GetUnits() { return Cells16[Units].current[0]; }
float GetPhysicalWidth() { return CellsFloat[PhysicalWidth].current[0]; }
float GetPhysicalHeight() { return CellsFloat[PhysicalHeight].current[0]; }
bool GetResolutionChangeRequested() { return ResolutionChangeRequested; }
void SetResolutionChangeRequested(bool requested) { ResolutionChangeRequested = requested; }
// The file set-up's format is ICAP_IMAGEFILEFORMAT's current value: one value, set from either.
int GetImageFileFormat() { return Cells16[ImageFileFormat].current[0]; }
void SetImageFileFormat(int format) { Cells16[ImageFileFormat].current[0] = static_cast<TW_UINT16>(format); }
int GetDefaultImageFileFormat() { return Cells16[ImageFileFormat].defaults[0]; }
