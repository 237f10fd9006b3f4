// The transfer options panel in the lower part of the storage browser page: the paper list,
// the saved options ("SB Mode") and the conversion the pages of a batch get.
#pragma once

#include <windows.h>

#include "imaging/page_conversion.h"

constexpr int PaperListId = 1003;
constexpr int FixedSizeOffId = 1004;
constexpr int FixedSizeOnId = 1005;
constexpr int BlackWhiteId = 1013;
constexpr int GrayScaleId = 1014;
constexpr int CurrentPageId = 1019;
constexpr int AllPagesId = 1020;
constexpr int PagesRangeId = 1021;
constexpr int FirstPageEditId = 1022;
constexpr int LastPageEditId = 1023;
constexpr int NoChangeId = 1024;
constexpr int Dpi200Id = 1025;
constexpr int Dpi300Id = 1026;
constexpr int Dpi400Id = 1027;
constexpr int FirstPageUpDownId = 1028;
constexpr int LastPageUpDownId = 1029;
constexpr int DeleteAfterId = 1046;
constexpr int PreviewCheckId = 1015;

// True when "On" of the fixed image size is selected; false while the page does not exist.
bool FixedSizeOn();
// Width and height, in hundredths of an inch, of the paper selected in the list: the second and
// third fields of its entry string ("A4,826,1168"). 0 and 0 when no paper is selected, its entry
// is missing or the page does not exist.
void FixedSizeDimensions(int& width, int& height);
// The conversion the transfer options ask for: resolution and pixel type from the capabilities,
// the fixed size from the panel.
ConversionSettings TransferConversionSettings();

// Fills the paper list of the page's family and selects its default paper.
void FillPaperList();
// Applies the saved record (or the defaults) to the panel, the capability store and the logon.
void LoadOptions();
// Writes the panel, the list's sort and the logon to the registry.
void SaveOptions();
// Enables or disables the page range edits and their up-down controls; disabling resets both
// edits to 1.
void SetRangeEditsEnabled(bool on);
// Writes the default record to the registry, then loads it.
void RestoreDefaults();
// The selected page range radio, 1019 when none is selected.
int PageRangeChoice();
// Brings the range edit that lost the focus (1022 or 1023) inside 1 to the shown document's
// page count and keeps first <= last; any other control is left alone.
void ClampRangeEdit(int control);
// The pages the page range choice takes from a document of pages pages, page being the one
// chosen for "Current page": first and last page and their count, 0 when the document has no
// such page.
struct TransferRange {
    int first;
    int last;
    int count;
};
TransferRange RangeOfDocument(int page, int pages);
// The first page to send of a document of pages pages; sets the range's page count and last page
// for the page sequencing.
int ComputeTransferRange(int page, int pages);
