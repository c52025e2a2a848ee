#include "painting/load_whole_file.h"

#include <cstdio>
#include <new>
#include <string>

#include "backend/file_path.h"
#include "platform/window_functions.h"

namespace {
// "Apua pää!" in the Windows-1252 code page, where each a-umlaut is the byte E4.
const char kOutOfMemory[] = "Apua p\xE4\xE4!";
}  // namespace

unsigned char* loadWholeFile(const char* path, int32_t* size) {
    std::string native = nativePath(path);
    std::FILE* file = std::fopen(native.c_str(), "rb");
    if (file == nullptr) {
        fatalError(path, true);
        return nullptr;
    }

    std::fseek(file, 0, SEEK_END);
    long length = std::ftell(file);
    std::fseek(file, 0, SEEK_SET);
    // A length the buffer's 32-bit size cannot carry is as unusable as an empty file.
    if (length <= 0 || length > INT32_MAX) {
        std::fclose(file);
        fatalError(path, true);
        return nullptr;
    }

    unsigned char* buffer = new (std::nothrow) unsigned char[static_cast<size_t>(length)];
    if (buffer == nullptr) {
        std::fclose(file);
        fatalError(kOutOfMemory, true);
        return nullptr;
    }

    // A short read would hand out a buffer whose tail was never filled: fail instead.
    size_t blocks = std::fread(buffer, static_cast<size_t>(length), 1, file);
    std::fclose(file);
    if (blocks != 1) {
        delete[] buffer;
        fatalError(path, true);
        return nullptr;
    }

    if (size != nullptr) *size = static_cast<int32_t>(length);
    return buffer;
}
