// The capabilities the source describes itself with: one entry per capability with its item
// type, containers, allowed messages, allowed values, default and current value.
#pragma once

#include "source/twain.h"

struct CapabilityEntry {
    TW_UINT16 Cap;
    TW_UINT16 ItemType;
    TW_UINT16 GetContainer;      // answered to MSG_GET
    TW_UINT16 CurrentContainer;  // answered to MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET
    TW_UINT32 Supported;         // TWQC_* mask
    TW_UINT32 ItemCount;
    void* Items;                 // allowed values; for a range: minimum, maximum, step
    TW_UINT32 DefaultCount;
    void* Default;
    TW_UINT32 CurrentCount;
    void* Current;
};

constexpr int CapabilitySlots = 45;
constexpr int CapabilityEntries = 44;
constexpr TW_UINT32 ReadOnlyOperations = TWQC_GET | TWQC_GETDEFAULT | TWQC_GETCURRENT;
constexpr TW_UINT32 SettableOperations = ReadOnlyOperations | TWQC_SET | TWQC_RESET;

// Stand-ins for ICAP_BITDEPTH, one per pixel type: 0x9000 + TWPT_*.
constexpr TW_UINT16 BitDepthForBlackWhite = 0x9000;

// A frame as stored: four lengths in inches.
struct StoredFrame {
    float Left, Top, Right, Bottom;
};

extern CapabilityEntry CapabilityTable[CapabilitySlots];
extern int PaperSizeType;  // 0 = A4 family, 1 = Letter family
extern bool ResolutionChangeRequested;

// Bytes one value of an item type takes when copied or compared.
TW_UINT32 ItemSize(TW_UINT16 itemType);

// Restores every value to its default and clears the table, as at load.
void InitCapabilityValues();
void BuildCapabilityTable();
void ClearCapabilityTable();
CapabilityEntry* FindCapability(TW_UINT16 cap);
// A or Letter paper family, from "SizeType" or the user's locale.
int SettlePaperSizeType();

float GetXResolution();
void SetXResolution(float dpi);
float GetYResolution();
void SetYResolution(float dpi);
int GetPixelType();
void SetPixelType(int pixelType);
bool GetFeederEnabled();
void SetFeederEnabled(bool enabled);
// Current CAP_XFERCOUNT: the most pages the application takes in a batch; -1 for any number.
int GetXferCount();
// Current ICAP_UNITS (TWUN_INCHES, TWUN_CENTIMETERS or TWUN_PIXELS).
int GetUnits();
float GetPhysicalWidth();
float GetPhysicalHeight();
bool GetResolutionChangeRequested();
void SetResolutionChangeRequested(bool requested);
int GetImageFileFormat();
void SetImageFileFormat(int format);
int GetDefaultImageFileFormat();
