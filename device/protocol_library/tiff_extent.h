// Whether a TIFF file holds everything its directories point at: the proof that a body which
// came without a length (chunked, or ended by the connection) arrived whole.
#pragma once

#include <string>

bool TiffFileIsWhole(const std::string& path);
