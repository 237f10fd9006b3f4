// The I/O operations the page decoders and writers work through. They never open files: the
// caller supplies an open file with read and seek (or write) operations, and receives decoded
// rows through a sink.
#pragma once

#include <cstdint>

// Reads up to count bytes at the current position; returns the number of bytes read.
using ReadOp = uint32_t (*)(void* file, void* buffer, uint32_t count);
// Moves to an absolute offset (origin 0); returns the new position, or -1 on failure.
using SeekOp = int64_t (*)(void* file, uint32_t offset, int origin);
// Writes count bytes at the current position; returns the number of bytes written.
using WriteOp = uint32_t (*)(void* file, const void* bytes, uint32_t count);
// Receives decoded rows, count bytes (whole rows at the page stride).
using RowSink = void (*)(void* context, const uint8_t* bytes, uint32_t count);
