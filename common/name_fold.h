// Names compared as Windows compares them: a file system folds letter case
// with its upcase table, which also pairs the full-width, Greek, Cyrillic
// and Roman-numeral letters of code page 932, and the code page spells some
// characters twice (NEC and IBM rows) that are one character to Windows.
// Portable: update.exe and mkupdate fold names alike.
#pragma once
#include <string>

// The name (code page 932 bytes) with every character that has another
// spelling Windows takes as the same name put in one spelling: ASCII and
// double-byte letters upper-cased, duplicate codes mapped to one of them.
std::string FoldNameCase(const char *name);
