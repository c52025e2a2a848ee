#include "fuzz_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

std::map<std::string, std::string>& paths() {
    static std::map<std::string, std::string> made;
    return made;
}

void removeScratch();

const std::string& folder() {
    static const std::string made = [] {
        // A file in memory is rewritten forty times faster than one on disk, and the run
        // spends most of its time there.
        const char* tmp = std::getenv("TMPDIR");
        struct stat st;
        const char* base = tmp && *tmp                                         ? tmp
                           : stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm"
                                                                               : "/tmp";
        std::string pattern = std::string(base) + "/qm-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) fuzzFailure(__FILE__, __LINE__, "no scratch folder");
        std::atexit(removeScratch);
        return pattern;
    }();
    return made;
}

void removeScratch() {
    for (const auto& entry : paths()) std::remove(entry.second.c_str());
    rmdir(folder().c_str());
}

}  // namespace

const std::string& writeFuzzFile(const char* name, const uint8_t* data, size_t size) {
    std::string& path = paths()[name];
    if (path.empty()) path = folder() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0)
        fuzzFailure(__FILE__, __LINE__, "cannot write the scratch file");
    return path;
}

void fuzzFailure(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    std::abort();
}
