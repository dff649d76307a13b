// Case folding of code page 932 names, as the file system's upcase table
// does it (a compact table of the double-byte codes that change).
#include "common/name_fold.h"

#include "common/cp932.h"

namespace {

// Runs of double-byte codes that fold to another run: from, to, length.
struct FoldRun {
  unsigned short from;
  unsigned short to;
  unsigned short length;
};

const FoldRun kFoldRuns[] = {
    {0x8281, 0x8260, 26}, // ａ-ｚ -> Ａ-Ｚ
    {0x83BF, 0x839F, 24}, // α-ω -> Α-Ω
    {0x8470, 0x8440, 15}, // а-н -> А-Н (ё among them)
    {0x8480, 0x844F, 18}, // о-я -> О-Я
    {0x8790, 0x81E0, 1},  // ≒ (NEC row 13) -> ≒
    {0x8791, 0x81DF, 1},  // ≡
    {0x8792, 0x81E7, 1},  // ∫
    {0x8795, 0x81E3, 1},  // √
    {0x8796, 0x81DB, 1},  // ⊥
    {0x8797, 0x81DA, 1},  // ∠
    {0x879A, 0x81E6, 1},  // ∵
    {0x879B, 0x81BF, 1},  // ∩
    {0x879C, 0x81BE, 1},  // ∪
    {0xEEEF, 0x8754, 10}, // ⅰ-ⅹ (NEC-selected IBM) -> Ⅰ-Ⅹ
    {0xEEF9, 0x81CA, 1},  // ￢
    {0xFA40, 0x8754, 10}, // ⅰ-ⅹ (IBM) -> Ⅰ-Ⅹ
    {0xFA4A, 0x8754, 10}, // Ⅰ-Ⅹ (IBM) -> Ⅰ-Ⅹ (NEC)
    {0xFA54, 0x81CA, 1},  // ￢
    {0xFA55, 0xEEFA, 3},  // ￤ ＇ ＂
    {0xFA58, 0x878A, 1},  // ㈱
    {0xFA59, 0x8782, 1},  // №
    {0xFA5A, 0x8784, 1},  // ℡
    {0xFA5B, 0x81E6, 1},  // ∵
    {0xFA5C, 0xED40, 35}, // IBM kanji -> NEC-selected IBM kanji, row by row
    {0xFA80, 0xED63, 28}, {0xFA9C, 0xED80, 97}, {0xFB40, 0xEDE1, 28}, {0xFB5C, 0xEE40, 35},
    {0xFB80, 0xEE63, 28}, {0xFB9C, 0xEE80, 97}, {0xFC40, 0xEEE1, 12},
};

unsigned FoldDoubleByte(unsigned code) {
  for (const FoldRun &run : kFoldRuns) {
    if (code >= run.from && code < run.from + run.length)
      return run.to + (code - run.from);
  }
  return code;
}

} // namespace

std::string FoldNameCase(const char *name) {
  std::string folded(name);
  for (size_t i = 0; i < folded.size(); ++i) {
    unsigned char byte = static_cast<unsigned char>(folded[i]);
    if (IsLeadByte932(byte) && i + 1 < folded.size()) {
      unsigned code = FoldDoubleByte(byte << 8 | static_cast<unsigned char>(folded[i + 1]));
      folded[i] = static_cast<char>(code >> 8);
      folded[i + 1] = static_cast<char>(code & 0xFF);
      ++i;
    } else if (byte >= 'a' && byte <= 'z') {
      folded[i] = static_cast<char>(byte - 'a' + 'A');
    }
  }
  return folded;
}
