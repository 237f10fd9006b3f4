// The transfer options panel in the lower part of the storage browser page: what the page
// builder asks of it.
#pragma once

constexpr int PaperListId = 1003;
constexpr int FixedSizeOffId = 1004;
constexpr int FixedSizeOnId = 1005;

// True when "On" of the fixed image size is selected; false while the page does not exist.
bool FixedSizeOn();
// Width and height, in hundredths of an inch, of the paper selected in the list: the second and
// third fields of its entry string ("A4,826,1168"). 0 and 0 when no paper is selected, its entry
// is missing or the page does not exist.
void FixedSizeDimensions(int& width, int& height);
