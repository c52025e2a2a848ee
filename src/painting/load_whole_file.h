#pragma once
#include <cstdint>

// Reads the whole file at `path` (written the show's way, "data\track1.data") into a new buffer
// that the caller owns and frees with delete[]. The file's length goes to `size` when it is not
// null. Never returns on failure: a file that cannot be opened, is empty, is too large to hold,
// or cannot be read in full ends the program through fatalError with the path as the message;
// running out of memory ends it with "Apua pää!".
unsigned char* loadWholeFile(const char* path, int32_t* size = nullptr);
