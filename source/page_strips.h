// The current page file read in strips of whole rows for the memory transfer, straight from the
// file in its stored order (top row first): no more than one strip of the page is in memory.
#pragma once

#include <cstdint>

// Opens CurrentPageFile for strips: the counters describe its rows, the file is positioned at
// its pixel rows. Returns 1, or 0 when the file cannot be opened (no page is open then).
int OpenPageForStrips();
// Reads as many whole rows as fit in capacity bytes, at most what is left of the page, into
// buffer; bytesRead receives the count. After the last row the page file is closed and deleted.
// Returns 1, or 0 when no page is open or the file cannot be read (the page file is then closed
// and deleted, and no page stays open).
int ReadStrip(uint8_t* buffer, uint32_t capacity, uint32_t& bytesRead);
