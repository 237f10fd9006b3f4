// The T.4 code words as published (first transmitted bit on the left) and the lookup tables built
// from them at compile time.
#include "imaging/fax_code_tables.h"

#include <array>
#include <cstddef>

namespace {

struct CodeWord {
    const char* bits;
    int16_t value;
};

constexpr CodeWord WhiteTerminating[] = {
    {"00110101", 0},  {"000111", 1},    {"0111", 2},      {"1000", 3},      {"1011", 4},
    {"1100", 5},      {"1110", 6},      {"1111", 7},      {"10011", 8},     {"10100", 9},
    {"00111", 10},    {"01000", 11},    {"001000", 12},   {"000011", 13},   {"110100", 14},
    {"110101", 15},   {"101010", 16},   {"101011", 17},   {"0100111", 18},  {"0001100", 19},
    {"0001000", 20},  {"0010111", 21},  {"0000011", 22},  {"0000100", 23},  {"0101000", 24},
    {"0101011", 25},  {"0010011", 26},  {"0100100", 27},  {"0011000", 28},  {"00000010", 29},
    {"00000011", 30}, {"00011010", 31}, {"00011011", 32}, {"00010010", 33}, {"00010011", 34},
    {"00010100", 35}, {"00010101", 36}, {"00010110", 37}, {"00010111", 38}, {"00101000", 39},
    {"00101001", 40}, {"00101010", 41}, {"00101011", 42}, {"00101100", 43}, {"00101101", 44},
    {"00000100", 45}, {"00000101", 46}, {"00001010", 47}, {"00001011", 48}, {"01010010", 49},
    {"01010011", 50}, {"01010100", 51}, {"01010101", 52}, {"00100100", 53}, {"00100101", 54},
    {"01011000", 55}, {"01011001", 56}, {"01011010", 57}, {"01011011", 58}, {"01001010", 59},
    {"01001011", 60}, {"00110010", 61}, {"00110011", 62}, {"00110100", 63},
};

constexpr CodeWord WhiteMakeUp[] = {
    {"11011", 64},      {"10010", 128},     {"010111", 192},    {"0110111", 256},
    {"00110110", 320},  {"00110111", 384},  {"01100100", 448},  {"01100101", 512},
    {"01101000", 576},  {"01100111", 640},  {"011001100", 704}, {"011001101", 768},
    {"011010010", 832}, {"011010011", 896}, {"011010100", 960}, {"011010101", 1024},
    {"011010110", 1088}, {"011010111", 1152}, {"011011000", 1216}, {"011011001", 1280},
    {"011011010", 1344}, {"011011011", 1408}, {"010011000", 1472}, {"010011001", 1536},
    {"010011010", 1600}, {"011000", 1664},   {"010011011", 1728},
};

constexpr CodeWord BlackTerminating[] = {
    {"0000110111", 0},    {"010", 1},           {"11", 2},            {"10", 3},
    {"011", 4},           {"0011", 5},          {"0010", 6},          {"00011", 7},
    {"000101", 8},        {"000100", 9},        {"0000100", 10},      {"0000101", 11},
    {"0000111", 12},      {"00000100", 13},     {"00000111", 14},     {"000011000", 15},
    {"0000010111", 16},   {"0000011000", 17},   {"0000001000", 18},   {"00001100111", 19},
    {"00001101000", 20},  {"00001101100", 21},  {"00000110111", 22},  {"00000101000", 23},
    {"00000010111", 24},  {"00000011000", 25},  {"000011001010", 26}, {"000011001011", 27},
    {"000011001100", 28}, {"000011001101", 29}, {"000001101000", 30}, {"000001101001", 31},
    {"000001101010", 32}, {"000001101011", 33}, {"000011010010", 34}, {"000011010011", 35},
    {"000011010100", 36}, {"000011010101", 37}, {"000011010110", 38}, {"000011010111", 39},
    {"000001101100", 40}, {"000001101101", 41}, {"000011011010", 42}, {"000011011011", 43},
    {"000001010100", 44}, {"000001010101", 45}, {"000001010110", 46}, {"000001010111", 47},
    {"000001100100", 48}, {"000001100101", 49}, {"000001010010", 50}, {"000001010011", 51},
    {"000000100100", 52}, {"000000110111", 53}, {"000000111000", 54}, {"000000100111", 55},
    {"000000101000", 56}, {"000001011000", 57}, {"000001011001", 58}, {"000000101011", 59},
    {"000000101100", 60}, {"000001011010", 61}, {"000001100110", 62}, {"000001100111", 63},
};

constexpr CodeWord BlackMakeUp[] = {
    {"0000001111", 64},     {"000011001000", 128},  {"000011001001", 192},
    {"000001011011", 256},  {"000000110011", 320},  {"000000110100", 384},
    {"000000110101", 448},  {"0000001101100", 512}, {"0000001101101", 576},
    {"0000001001010", 640}, {"0000001001011", 704}, {"0000001001100", 768},
    {"0000001001101", 832}, {"0000001110010", 896}, {"0000001110011", 960},
    {"0000001110100", 1024}, {"0000001110101", 1088}, {"0000001110110", 1152},
    {"0000001110111", 1216}, {"0000001010010", 1280}, {"0000001010011", 1344},
    {"0000001010100", 1408}, {"0000001010101", 1472}, {"0000001011010", 1536},
    {"0000001011011", 1600}, {"0000001100100", 1664}, {"0000001100101", 1728},
};

// Make-up codes 1792 to 2560, the same for both colours.
constexpr CodeWord ExtendedMakeUp[] = {
    {"00000001000", 1792},  {"00000001100", 1856},  {"00000001101", 1920},
    {"000000010010", 1984}, {"000000010011", 2048}, {"000000010100", 2112},
    {"000000010101", 2176}, {"000000010110", 2240}, {"000000010111", 2304},
    {"000000011100", 2368}, {"000000011101", 2432}, {"000000011110", 2496},
    {"000000011111", 2560},
};

constexpr const char* Eol = "000000000001";

constexpr int Length(const char* bits) {
    int n = 0;
    while (bits[n] != 0) ++n;
    return n;
}

// Enters a code word into a table indexed by indexBits bits that follow a prefix of prefixBits
// zeros: every index whose low bits spell the rest of the word (first bit lowest) gets the entry.
template <std::size_t N>
constexpr void Enter(std::array<FaxCode, N>& table, int indexBits, int prefixBits, const char* bits,
                     int16_t value, FaxCodeKind kind) {
    const int length = Length(bits);
    const int rest = length - prefixBits;
    unsigned pattern = 0;
    for (int i = 0; i < rest; ++i) {
        if (bits[prefixBits + i] == '1') pattern |= 1u << i;
    }
    for (unsigned high = 0; high < (1u << (indexBits - rest)); ++high) {
        table[pattern | high << rest] = FaxCode{value, static_cast<uint8_t>(length), kind};
    }
}

template <std::size_t N, std::size_t M>
constexpr void EnterAll(std::array<FaxCode, N>& table, int indexBits, int prefixBits,
                        const CodeWord (&words)[M], FaxCodeKind kind, bool withPrefix) {
    for (const CodeWord& word : words) {
        const int length = Length(word.bits);
        bool zeros = length > prefixBits;
        for (int i = 0; i < prefixBits && zeros; ++i) zeros = word.bits[i] == '0';
        const bool fits = length - prefixBits <= indexBits;
        if (withPrefix ? (zeros && fits) : length <= indexBits) {
            Enter(table, indexBits, withPrefix ? prefixBits : 0, word.bits, word.value, kind);
        }
    }
}

constexpr std::array<FaxCode, 512> BuildWhiteCodes() {
    std::array<FaxCode, 512> table{};
    EnterAll(table, 9, 0, WhiteTerminating, FaxCodeTerminating, false);
    EnterAll(table, 9, 0, WhiteMakeUp, FaxCodeMakeUp, false);
    // Every white code of more than nine bits starts with seven zeros.
    Enter(table, 9, 0, "0000000", 0, FaxCodeSecondTable);
    return table;
}

constexpr std::array<FaxCode, 32> BuildWhiteLongCodes() {
    std::array<FaxCode, 32> table{};
    EnterAll(table, 5, FaxWhitePrefixBits, ExtendedMakeUp, FaxCodeMakeUp, true);
    Enter(table, 5, FaxWhitePrefixBits, Eol, 0, FaxCodeEol);
    Enter(table, 5, FaxWhitePrefixBits, "000000000000", 0, FaxCodeFill);
    return table;
}

constexpr std::array<FaxCode, 256> BuildBlackCodes() {
    std::array<FaxCode, 256> table{};
    // Every black code of more than eight bits starts with four zeros; the shorter codes with
    // that prefix then take their own entries.
    Enter(table, 8, 0, "0000", 0, FaxCodeSecondTable);
    EnterAll(table, 8, 0, BlackTerminating, FaxCodeTerminating, false);
    EnterAll(table, 8, 0, BlackMakeUp, FaxCodeMakeUp, false);
    return table;
}

constexpr std::array<FaxCode, 512> BuildBlackLongCodes() {
    std::array<FaxCode, 512> table{};
    EnterAll(table, 9, FaxBlackPrefixBits, BlackTerminating, FaxCodeTerminating, true);
    EnterAll(table, 9, FaxBlackPrefixBits, BlackMakeUp, FaxCodeMakeUp, true);
    EnterAll(table, 9, FaxBlackPrefixBits, ExtendedMakeUp, FaxCodeMakeUp, true);
    Enter(table, 9, FaxBlackPrefixBits, Eol, 0, FaxCodeEol);
    Enter(table, 9, FaxBlackPrefixBits, "0000000000001", 0, FaxCodeEol);
    Enter(table, 9, FaxBlackPrefixBits, "0000000000000", 0, FaxCodeFill);
    return table;
}

constexpr std::array<FaxCode, 128> BuildModeCodes() {
    std::array<FaxCode, 128> table{};
    Enter(table, 7, 0, "0001", 0, FaxModePass);
    Enter(table, 7, 0, "001", 0, FaxModeHorizontal);
    Enter(table, 7, 0, "1", 0, FaxModeVertical);
    Enter(table, 7, 0, "011", 1, FaxModeVertical);
    Enter(table, 7, 0, "000011", 2, FaxModeVertical);
    Enter(table, 7, 0, "0000011", 3, FaxModeVertical);
    Enter(table, 7, 0, "010", -1, FaxModeVertical);
    Enter(table, 7, 0, "000010", -2, FaxModeVertical);
    Enter(table, 7, 0, "0000010", -3, FaxModeVertical);
    return table;
}

constexpr std::array<uint8_t, 256> BuildReversedBits() {
    std::array<uint8_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned reversed = 0;
        for (int bit = 0; bit < 8; ++bit) {
            if (byte & (1u << bit)) reversed |= 0x80u >> bit;
        }
        table[byte] = static_cast<uint8_t>(reversed);
    }
    return table;
}

// A few spot checks of the index order: first transmitted bit in bit 0.
static_assert(BuildWhiteCodes()[0b1110].kind == FaxCodeTerminating);
static_assert(BuildWhiteCodes()[0b1110].value == 2);
static_assert(BuildBlackCodes()[0b11].value == 2 && BuildBlackCodes()[0b01].value == 3);
static_assert(BuildBlackLongCodes()[0b100000000].kind == FaxCodeEol);
static_assert(BuildWhiteLongCodes()[0b10000].kind == FaxCodeEol);
static_assert(BuildWhiteLongCodes()[0].kind == FaxCodeFill);
static_assert(BuildModeCodes()[0].kind == FaxCodeInvalid);
static_assert(BuildModeCodes()[0b1000000].kind == FaxCodeInvalid);

}  // namespace

constexpr std::array<FaxCode, 512> FaxWhiteCodes = BuildWhiteCodes();
constexpr std::array<FaxCode, 32> FaxWhiteLongCodes = BuildWhiteLongCodes();
constexpr std::array<FaxCode, 256> FaxBlackCodes = BuildBlackCodes();
constexpr std::array<FaxCode, 512> FaxBlackLongCodes = BuildBlackLongCodes();
constexpr std::array<FaxCode, 128> FaxModeCodes = BuildModeCodes();
constexpr std::array<uint8_t, 256> FaxReversedBits = BuildReversedBits();

// ---- Code words for writing --------------------------------------------------------------------

namespace {

constexpr FaxCodeWord WordOf(const char* bits) {
    FaxCodeWord word{0, static_cast<uint8_t>(Length(bits))};
    for (int i = 0; i < word.length; ++i) word.bits = static_cast<uint16_t>(word.bits << 1 | (bits[i] == '1'));
    return word;
}

// Words by run: terminating runs from 0, make-up runs from 64 in steps of 64.
template <std::size_t N, std::size_t M>
constexpr std::array<FaxCodeWord, N> WordsByRun(const CodeWord (&words)[M], int first, int step) {
    std::array<FaxCodeWord, N> table{};
    for (const CodeWord& word : words) {
        const int index = (word.value - first) / step;
        if (index >= 0 && index < static_cast<int>(N)) table[index] = WordOf(word.bits);
    }
    return table;
}

template <std::size_t M>
constexpr std::array<FaxCodeWord, 40> MakeUpWords(const CodeWord (&colourWords)[M]) {
    std::array<FaxCodeWord, 40> table = WordsByRun<40>(colourWords, 64, 64);
    const std::array<FaxCodeWord, 40> extended = WordsByRun<40>(ExtendedMakeUp, 64, 64);
    for (std::size_t i = 27; i < 40; ++i) table[i] = extended[i];
    return table;
}

// A mode word read back from the decoding table, so that both directions share one source: the
// table index holds the code's bits first bit lowest.
constexpr FaxCodeWord ModeWordOf(FaxCodeKind kind, int value) {
    const std::array<FaxCode, 128> modes = BuildModeCodes();
    for (unsigned index = 0; index < modes.size(); ++index) {
        const FaxCode& code = modes[index];
        if (code.kind == kind && (kind != FaxModeVertical || code.value == value)) {
            FaxCodeWord word{0, code.length};
            for (int i = 0; i < code.length; ++i) word.bits = static_cast<uint16_t>(word.bits << 1 | (index >> i & 1));
            return word;
        }
    }
    return FaxCodeWord{};
}

constexpr std::array<FaxCodeWord, 7> BuildVerticalWords() {
    std::array<FaxCodeWord, 7> table{};
    for (int offset = -3; offset <= 3; ++offset) table[offset + 3] = ModeWordOf(FaxModeVertical, offset);
    return table;
}

static_assert(WordOf("0000001100101").bits == 0x65 && WordOf("0000001100101").length == 13);
static_assert(ModeWordOf(FaxModePass, 0).bits == 1 && ModeWordOf(FaxModePass, 0).length == 4);
static_assert(BuildVerticalWords()[3 + 1].bits == 0b011 && BuildVerticalWords()[3 - 3].bits == 0b0000010);
static_assert(MakeUpWords(WhiteMakeUp)[39].length == 12 && MakeUpWords(BlackMakeUp)[26].length == 13);

}  // namespace

constexpr std::array<FaxCodeWord, 64> FaxWhiteTerminatingWords = WordsByRun<64>(WhiteTerminating, 0, 1);
constexpr std::array<FaxCodeWord, 64> FaxBlackTerminatingWords = WordsByRun<64>(BlackTerminating, 0, 1);
constexpr std::array<FaxCodeWord, 40> FaxWhiteMakeUpWords = MakeUpWords(WhiteMakeUp);
constexpr std::array<FaxCodeWord, 40> FaxBlackMakeUpWords = MakeUpWords(BlackMakeUp);
constexpr FaxCodeWord FaxPassWord = ModeWordOf(FaxModePass, 0);
constexpr FaxCodeWord FaxHorizontalWord = ModeWordOf(FaxModeHorizontal, 0);
constexpr std::array<FaxCodeWord, 7> FaxVerticalWords = BuildVerticalWords();
constexpr FaxCodeWord FaxEolWord = WordOf(Eol);
