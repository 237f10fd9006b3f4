// What the application may ask about the page and the colours: the page's description, its
// layout and palette, and the answers to the colour-description operations. These need no
// page being transferred.
#include <cmath>
#include <cstring>

#include "imaging/windows/page_file_store.h"
#include "source/capability_negotiation.h"
#include "source/capability_store.h"
#include "source/image_operations.h"
#include "source/page_sequencing.h"
#include "source/source_state.h"

namespace {

constexpr int ResponseEntries = 256;
TW_ELEMENT8 GrayResponse[ResponseEntries];
TW_ELEMENT8 RgbResponse[ResponseEntries];

bool InStates(int low, int high) { return SourceState >= low && SourceState <= high; }

constexpr double CentimetresPerInch = 2.54;
// The largest length a TW_FIX32 holds.
constexpr double LargestFix32 = 32767.0;

// Dots per inch from pixels per metre, rounded up as the page's headers were truncated down.
int DotsPerInch(LONG pixelsPerMetre)
{
    int64_t dpi = (int64_t(pixelsPerMetre) * 254 + 9999) / 10000;
    return dpi < 0 ? 0 : dpi > 32767 ? 32767 : int(dpi);
}

TW_FIX32 Fix32Of(double value)
{
    return ToFix32(float(value < 0 ? 0 : value > LargestFix32 ? LargestFix32 : value));
}

// A resolution in dots per inch as pixels per current unit: per centimetre, or 1 pixel per
// pixel (a pixel count has no physical size).
TW_FIX32 ResolutionInUnits(int dotsPerInch)
{
    switch (GetUnits()) {
    case TWUN_CENTIMETERS:
        return Fix32Of(dotsPerInch / CentimetresPerInch);
    case TWUN_PIXELS:
        return Fix32Of(1);
    default:
        return Fix32Of(dotsPerInch);
    }
}

// A length in inches in the current unit; whole pixels at dotsPerInch.
TW_FIX32 LengthInUnits(double inches, double dotsPerInch)
{
    switch (GetUnits()) {
    case TWUN_CENTIMETERS:
        return Fix32Of(inches * CentimetresPerInch);
    case TWUN_PIXELS:
        return Fix32Of(std::floor(inches * dotsPerInch + 0.5));
    default:
        return Fix32Of(inches);
    }
}

// The frame of the page about to go out (states 6 and 7): its pixels at its own resolution.
// Before a page, and as the default, the physical size at the resolution asked for.
void FillFrame(TW_FRAME& frame, bool ofThePage)
{
    const BITMAPINFOHEADER& header = CurrentPageHeader;
    int xDpi = DotsPerInch(header.biXPelsPerMeter);
    int yDpi = DotsPerInch(header.biYPelsPerMeter);
    bool page = ofThePage && SourceState >= StateXferReady && header.biWidth > 0 && header.biHeight > 0 &&
                xDpi > 0 && yDpi > 0;
    frame.Left = Fix32Of(0);
    frame.Top = Fix32Of(0);
    if (page) {
        frame.Right = LengthInUnits(double(header.biWidth) / xDpi, xDpi);
        frame.Bottom = LengthInUnits(double(header.biHeight) / yDpi, yDpi);
    } else {
        frame.Right = LengthInUnits(GetPhysicalWidth(), GetXResolution());
        frame.Bottom = LengthInUnits(GetPhysicalHeight(), GetYResolution());
    }
}

void FillIdentityRamp(TW_ELEMENT8* table)
{
    for (int i = 0; i < ResponseEntries; ++i)
        table[i] = {TW_UINT8(i), TW_UINT8(i), TW_UINT8(i), TW_UINT8(i)};
}

TW_UINT16 ResponseTable(TW_ELEMENT8* table, TW_UINT16 message, TW_MEMREF data)
{
    switch (message) {
    case MSG_SET:
        if (!data)
            return RefuseRequest(TWCC_BADVALUE, "no response table <<DAT_RESPONSE>>");
        memcpy(table, data, sizeof(TW_ELEMENT8) * ResponseEntries);
        return TWRC_SUCCESS;
    case MSG_RESET:
        FillIdentityRamp(table);
        return TWRC_SUCCESS;
    default:
        return TWRC_SUCCESS;
    }
}

// A 3 by 3 matrix whose entry in row r, column c is r + c / 10.
void FillMix(TW_FIX32 (&mix)[3][3])
{
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            mix[row][column] = ToFix32(float(row) + float(column) / 10.0f);
}

void SetPoint(TW_CIEPOINT& point, float x, float y, float z)
{
    point.X = ToFix32(x);
    point.Y = ToFix32(y);
    point.Z = ToFix32(z);
}

}  // namespace

QRV_IMAGE_HANDLER(ImageInfoHandler)
{
    if (SourceState != StateXferReady)
        return RefuseRequest(TWCC_SEQERROR, "no page ready <<DAT_IMAGEINFO>>");
    if (message != MSG_GET)
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_IMAGEINFO>>");
    TW_IMAGEINFO* info = static_cast<TW_IMAGEINFO*>(data);
    if (!info)
        return RefuseRequest(TWCC_BADVALUE, "no image information <<DAT_IMAGEINFO>>");
    const BITMAPINFOHEADER& header = CurrentPageHeader;
    info->XResolution = ResolutionInUnits(DotsPerInch(header.biXPelsPerMeter));
    info->YResolution = ResolutionInUnits(DotsPerInch(header.biYPelsPerMeter));
    info->ImageWidth = header.biWidth;
    info->ImageLength = header.biHeight;
    info->BitsPerPixel = TW_INT16(header.biBitCount);
    info->PixelType = TW_INT16(GetPixelType());
    info->Planar = FALSE;
    info->Compression = TWCP_NONE;
    memset(info->BitsPerSample, 0, sizeof info->BitsPerSample);
    if (header.biBitCount < 24) {
        info->SamplesPerPixel = 1;
        info->BitsPerSample[0] = TW_INT16(header.biBitCount);
    } else {
        info->SamplesPerPixel = 3;
        for (int i = 0; i < 4; ++i)
            info->BitsPerSample[i] = 8;
    }
    return TWRC_SUCCESS;
}

QRV_IMAGE_HANDLER(ImageLayoutHandler)
{
    switch (message) {
    case MSG_GET:
    case MSG_GETCURRENT:
    case MSG_GETDEFAULT: {
        TW_IMAGELAYOUT* layout = static_cast<TW_IMAGELAYOUT*>(data);
        if (!layout)
            return RefuseRequest(TWCC_BADVALUE, "no layout <<DAT_IMAGELAYOUT>>");
        FillFrame(layout->Frame, message != MSG_GETDEFAULT);
        layout->DocumentNumber = 1;
        layout->PageNumber = TW_UINT32(GetCurrentPage());
        layout->FrameNumber = 1;
        return TWRC_SUCCESS;
    }
    case MSG_SET:
    case MSG_RESET:
        // The layout is the page's own: a frame asked for changes nothing.
        return TWRC_SUCCESS;
    default:
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_IMAGELAYOUT>>");
    }
}

QRV_IMAGE_HANDLER(Palette8Handler)
{
    if (!InStates(StateOpen, StateXferReady))
        return RefuseRequest(TWCC_SEQERROR, "wrong state <<DAT_PALETTE8>>");
    switch (message) {
    case MSG_GET: {
        TW_PALETTE8* palette = static_cast<TW_PALETTE8*>(data);
        if (!palette)
            return RefuseRequest(TWCC_BADVALUE, "no palette <<DAT_PALETTE8>>");
        // Black and white, or the 256 greys; no palette for 24 bits, nor while no page has
        // been prepared (bit count 0).
        WORD bits = CurrentPageHeader.biBitCount;
        int colours = bits == 1 ? 2 : bits == 8 ? 256 : 0;
        palette->NumColors = TW_UINT16(colours);
        palette->PaletteType = TWPA_RGB;
        int step = colours > 1 ? 255 / (colours - 1) : 0;
        for (int i = 0; i < colours; ++i) {
            TW_UINT8 level = TW_UINT8(i * step);
            palette->Colors[i] = {TW_UINT8(i), level, level, level};
        }
        return TWRC_SUCCESS;
    }
    case MSG_GETDEFAULT:
    case MSG_SET:
    case MSG_RESET:
        return TWRC_SUCCESS;
    default:
        return RefuseRequest(TWCC_BADPROTOCOL, "unknown message <<DAT_PALETTE8>>");
    }
}

QRV_IMAGE_HANDLER(GrayResponseHandler) { return ResponseTable(GrayResponse, message, data); }

QRV_IMAGE_HANDLER(RgbResponseHandler) { return ResponseTable(RgbResponse, message, data); }

// Fixed values for every message in every state; the fields not named stay as the caller had
// them.
QRV_IMAGE_HANDLER(CieColorHandler)
{
    TW_CIECOLOR* colour = static_cast<TW_CIECOLOR*>(data);
    if (!colour)
        return RefuseRequest(TWCC_BADVALUE, "no colour description <<DAT_CIECOLOR>>");
    colour->ColorSpace = TWPT_RGB;
    colour->LowPass = 0;
    colour->DeviceDependent = 1;
    colour->VersionNumber = 0;
    colour->StageABC.Decode[0].StartIn = ToFix32(0.1f);
    FillMix(colour->StageABC.Mix);
    colour->StageLMN.Decode[0].StartIn = ToFix32(1.1f);
    FillMix(colour->StageLMN.Mix);
    SetPoint(colour->WhitePoint, 4.4f, 5.5f, 6.6f);
    SetPoint(colour->BlackPoint, 1.1f, 5.5f, 6.6f);
    SetPoint(colour->WhitePaper, 1.1f, 5.5f, 6.6f);
    SetPoint(colour->BlackInk, 1.1f, 5.5f, 6.6f);
    colour->Samples[0] = ToFix32(99.99f);
    return TWRC_SUCCESS;
}

// Nothing is compressed: every request about JPEG compression succeeds and changes nothing.
QRV_IMAGE_HANDLER(JpegCompressionHandler) { return TWRC_SUCCESS; }
