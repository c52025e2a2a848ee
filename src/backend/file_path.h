#pragma once
// The show writes its file paths the Windows way ("data\track1.data", "data//paper1.jpg").
// Backends and file readers open them through these helpers; messages keep the path as the show
// wrote it.
#include <cstdint>
#include <string>

// Copies `path` into `out` (capacity bytes, terminator included) with every backslash turned
// into a forward slash on POSIX systems. Returns the length written, or -1 (and writes nothing)
// when `out` is too small or either pointer is null.
int32_t nativePath(const char* path, char* out, int32_t capacity);

std::string nativePath(const char* path);
