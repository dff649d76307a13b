// Conversion of file names between UTF-8 (how publishers' machines name
// files) and code page 932 (how the package stores them).
#pragma once
#include <string>

// Exact conversion: false when some character has no code page 932 form, or
// when the result would not convert back to the same text.
bool Utf8ToCp932(const std::string &utf8, std::string *cp932);
bool Cp932ToUtf8(const std::string &cp932, std::string *utf8);

// A stored name for messages: its UTF-8 form, or, when it has none, the name
// with every byte outside printable ASCII written as \xNN.
std::string PrintableName(const std::string &cp932);
