// Path rules for byte strings in code page 932 (Shift-JIS), where the second
// byte of a double-byte character may be 0x5C, the value of '\'.
#pragma once
#include <cstddef>

// True for the bytes that open a double-byte character in code page 932.
bool IsLeadByte932(unsigned char byte);

// True for the bytes that may follow a lead byte (0x40-0x7E, 0x80-0xFC).
// Any other byte after a lead byte is no character at all: Windows would
// read it on its own, so a ':' or a NUL there would act as itself.
bool IsTrailByte932(unsigned char byte);

// Index of the last '\' that is a separator and not the trail byte of a
// double-byte character, or -1 when there is none.
long FindLastSeparator(const char *text);

// True when the text ends in a separator, judged as FindLastSeparator does.
bool EndsWithSeparator(const char *text);
