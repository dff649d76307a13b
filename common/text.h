// Bounded text buffers: every copy, append and format checks that the result
// fits with its terminator, and reports -1 instead of truncating.
#pragma once
#include <cstddef>

// Copies source into dest (capacity bytes). 0 on success; -1 when it does not
// fit, leaving dest an empty string.
int CopyText(char *dest, size_t capacity, const char *source);

// Appends source to the text in dest. 0 on success; -1 when the result would
// not fit, leaving dest unchanged.
int AppendText(char *dest, size_t capacity, const char *source);

// snprintf into dest. 0 on success; -1 when the result was cut or the format
// failed (dest then holds the cut text).
int FormatText(char *dest, size_t capacity, const char *format, ...) __attribute__((format(printf, 3, 4)));

// Joins a folder and a name: folder, then '\' unless the folder already ends
// in one, then name. 0 on success; -1 when the result does not fit in capacity
// bytes with its terminator (dest is then empty).
int JoinPath(char *dest, size_t capacity, const char *folder, const char *name);
