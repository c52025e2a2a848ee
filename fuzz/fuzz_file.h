#pragma once
// What the fuzz targets share: the readers under test take a path, so each input is written to
// one scratch file first, and the process dies loudly when a property of the reader fails.
#include <cstddef>
#include <cstdint>
#include <string>

// A file in memory, one per name and private to this process, rewritten with `size` bytes of
// `data` on every call; its path is returned.
const std::string& writeFuzzFile(const char* name, const uint8_t* data, size_t size);

// Ends the run with `what` when `holds` is false: libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(holds, what)                              \
    do {                                                     \
        if (!(holds)) fuzzFailure(__FILE__, __LINE__, what); \
    } while (0)
[[noreturn]] void fuzzFailure(const char* file, int line, const char* what);
