#include "backend/file_path.h"

#include <cstring>

namespace {
#ifdef _WIN32
constexpr bool kMapSeparators = false;
#else
constexpr bool kMapSeparators = true;
#endif

char mapped(char c) {
    return (kMapSeparators && c == '\\') ? '/' : c;
}
}  // namespace

int32_t nativePath(const char* path, char* out, int32_t capacity) {
    if (path == nullptr || out == nullptr) return -1;
    size_t length = std::strlen(path);
    if (capacity <= 0 || length >= static_cast<size_t>(capacity)) return -1;
    for (size_t i = 0; i < length; ++i) out[i] = mapped(path[i]);
    out[length] = '\0';
    return static_cast<int32_t>(length);
}

std::string nativePath(const char* path) {
    std::string result = path != nullptr ? path : "";
    for (char& c : result) c = mapped(c);
    return result;
}
