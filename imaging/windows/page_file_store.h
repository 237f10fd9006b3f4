// The page next in line for the application: the page bitmap file (rows stored top row first)
// that is the CurrentPageFile, its cached info header, and the page loaded from it into one
// global memory block as a packed DIB for a transfer or the preview.
//
// Calling orders: native transfer LoadPageDib, FlipPageDib, GetPageDib, ForgetPageDib; file
// transfer LoadPageDib, FlipPageDib, SavePageDibAsBmp, or LoadPageDib, SavePageDibAsTiff; preview
// LoadPageDib, GetPageDib, GetPageDibBits, FreePageDib (on the unflipped rows). No operation
// shows a message.
#pragma once

#include <windows.h>

// Path of the current page bitmap file, empty when there is none.
extern char CurrentPageFile[MAX_PATH];
// The 40-byte info header of CurrentPageFile, read back from file offset 14.
extern BITMAPINFOHEADER CurrentPageHeader;

// Writes a page bitmap file of rows (stride of the pixel type times height bytes, top row first)
// for pixel type 0 (1 bit), 1 (8-bit gray) or 2 (24-bit RGB). A file that cannot be written
// completely, or an unsupported pixel type or size, leaves no file behind. Returns 1 or 0.
int WritePageBitmapFile(const char* path, const void* rows, int width, int height, int xDpi,
                        int yDpi, int pixelType);
// Reads the file's info header into CurrentPageHeader and makes it the CurrentPageFile. An empty
// path, a file that cannot be read or whose header does not describe a page bitmap returns 0 and
// leaves the store as it was.
int SelectPageFile(const char* path);

// Loads CurrentPageFile's info header, palette and rows into one fixed, zero-filled global block,
// freeing a page loaded before.
int LoadPageDib();
// Reverses the loaded page's rows in place: the block becomes a bottom-up packed DIB.
int FlipPageDib();
// Writes the loaded page as a standard BMP file (file header, then the block) and frees it in
// every case. A failed write deletes the file.
int SavePageDibAsBmp(const char* path);
// Writes the loaded page, not flipped (top row first), as a single-page TIFF file with the page's
// resolution (1-bit pages T.6 coded, others PackBits), and frees it in every case. A failed
// write deletes the file.
int SavePageDibAsTiff(const char* path);
HGLOBAL GetPageDib();
BYTE* GetPageDibBits();
// Drops the store's references without freeing: the transfer side has taken the block over.
void ForgetPageDib();
void FreePageDib();
