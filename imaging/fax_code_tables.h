// Lookup tables for the ITU-T T.4/T.6 run-length and mode codes.
//
// Bits reach the decoder least significant first, so every table is indexed by the next code
// bits with the first bit in bit 0. A run code is resolved by at most two lookups: white codes by
// 9 bits, then (after seven zeros) by the 5 bits that follow; black codes by 8 bits, then (after
// four zeros) by the 9 bits that follow. Mode codes are resolved by one 7-bit lookup.
#pragma once

#include <array>
#include <cstdint>

enum FaxCodeKind : uint8_t {
    FaxCodeInvalid = 0,
    FaxCodeTerminating,  // run 0 to 63: the run ends here
    FaxCodeMakeUp,       // run 64 to 2560: a further code of the same colour follows
    FaxCodeEol,          // end of line: eleven (or, black, twelve) zeros and a one
    FaxCodeFill,         // a run of zeros too long to be a code: fill before an EOL
    FaxCodeSecondTable,  // the code is longer: look it up in the colour's second table
    FaxModePass,
    FaxModeHorizontal,
    FaxModeVertical,     // value holds the offset -3 to +3
};

struct FaxCode {
    int16_t value;   // run length, or the vertical offset of a mode code
    uint8_t length;  // bits of the whole code, including a first table's prefix
    uint8_t kind;    // FaxCodeKind
};

// First white lookup (9 bits) and the table for codes starting with seven zeros (5 bits after them).
constexpr int FaxWhitePrefixBits = 7;
extern const std::array<FaxCode, 512> FaxWhiteCodes;
extern const std::array<FaxCode, 32> FaxWhiteLongCodes;

// First black lookup (8 bits) and the table for codes starting with four zeros (9 bits after them).
constexpr int FaxBlackPrefixBits = 4;
extern const std::array<FaxCode, 256> FaxBlackCodes;
extern const std::array<FaxCode, 512> FaxBlackLongCodes;

// Two-dimensional mode codes (7 bits); EOL and extension prefixes are invalid.
extern const std::array<FaxCode, 128> FaxModeCodes;

// Byte with its bit order reversed.
extern const std::array<uint8_t, 256> FaxReversedBits;

// The same code words for writing: the first transmitted bit is the most significant of length.
struct FaxCodeWord {
    uint16_t bits;
    uint8_t length;
};

// Terminating codes by run (0 to 63); make-up codes by run / 64 - 1 (64 to 2560, the extended
// ones shared by both colours).
extern const std::array<FaxCodeWord, 64> FaxWhiteTerminatingWords;
extern const std::array<FaxCodeWord, 64> FaxBlackTerminatingWords;
extern const std::array<FaxCodeWord, 40> FaxWhiteMakeUpWords;
extern const std::array<FaxCodeWord, 40> FaxBlackMakeUpWords;
// Two-dimensional mode codes; vertical ones by offset + 3 (offsets -3 to +3).
extern const FaxCodeWord FaxPassWord;
extern const FaxCodeWord FaxHorizontalWord;
extern const std::array<FaxCodeWord, 7> FaxVerticalWords;
extern const FaxCodeWord FaxEolWord;
