// uinst.dat made by hand for the tests: each entry is its kind letter ("F" a
// file, "D" a folder), its path and a zero byte; one more zero ends the list.
#pragma once
#include <string>

inline const std::string kListEnd(1, '\0');

inline std::string ListEntry(const std::string &kind, const std::string &path) { return kind + path + kListEnd; }
