#include "fuzz_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

const std::string& writeFuzzFile(const char* name, const uint8_t* data, size_t size) {
    // An anonymous file in memory, reached through its descriptor's path: rewriting it is forty
    // times faster than a file on disk, and nothing is left behind however the run ends
    // (libFuzzer leaves with _Exit, past any clean-up).
    struct Scratch {
        int fd = -1;
        std::string path;
    };
    static std::map<std::string, Scratch> files;
    Scratch& file = files[name];
    if (file.fd < 0) {
        file.fd = memfd_create(name, 0);
        if (file.fd < 0) fuzzFailure(__FILE__, __LINE__, "cannot make a scratch file");
        file.path = "/proc/self/fd/" + std::to_string(file.fd);
    }
    if (ftruncate(file.fd, 0) != 0)
        fuzzFailure(__FILE__, __LINE__, "cannot empty the scratch file");
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(file.fd, data + done, size - done, off_t(done));
        if (n <= 0) fuzzFailure(__FILE__, __LINE__, "cannot write the scratch file");
        done += size_t(n);
    }
    return file.path;
}

void fuzzFailure(const char* file, int line, const char* what) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    std::abort();
}
