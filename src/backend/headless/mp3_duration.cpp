#include "backend/headless/mp3_duration.h"

#include <mpg123.h>

#include <mutex>

namespace {

// mpg123_init must run once per process before any handle is made (a no-op from 1.27 on, but
// harmless to keep for older libraries).
void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

}  // namespace

bool readMp3Duration(const std::string& path, Mp3Duration* duration) {
    if (duration == nullptr) return false;
    initialiseLibrary();
    int error = MPG123_OK;
    mpg123_handle* handle = mpg123_new(nullptr, &error);
    if (handle == nullptr) return false;
    bool ok = false;
    // Quiet: a damaged file is an ordinary outcome here, not something to print.
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    if (mpg123_open(handle, path.c_str()) == MPG123_OK) {
        long rate = 0;
        int channels = 0;
        int encoding = 0;
        // A full scan gives the exact length also for files without a length header.
        if (mpg123_getformat(handle, &rate, &channels, &encoding) == MPG123_OK &&
            mpg123_scan(handle) == MPG123_OK) {
            off_t samples = mpg123_length(handle);
            if (samples > 0 && rate > 0) {
                duration->samples = static_cast<int64_t>(samples);
                duration->rate = rate;
                ok = true;
            }
        }
        mpg123_close(handle);
    }
    mpg123_delete(handle);
    return ok;
}
