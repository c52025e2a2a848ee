// quillmere.exe: the show on Windows, on the platform's own Direct3D 9, DirectInput and wave
// output; or, with --capture, drawn by Direct3D on the virtual clock and written to BMP files.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "backend/win32/native.h"
#include "backend/win32/win32_backend.h"
#include "options.h"
#include "shell/show.h"

namespace {

const char* const kUsage =
    "usage: quillmere [--assets DIR] [--windowed] [--no-dialogs] [--frames N]\n"
    "       quillmere --capture DIR [--fps N] [--from SEC] [--to SEC] [--frames N]\n"
    "                 [--press KEY@SECONDS]... [--overwrite] [--fullscreen] [--assets DIR]\n"
    "\n"
    "Plays the show full screen at 640x480 with its music, until the music ends, Escape is\n"
    "pressed or the window closes.\n"
    "\n"
    "  --assets DIR     folder holding data\\ and vid\\ (default: the current folder if it has\n"
    "                   them, else the program's own folder)\n"
    "  --windowed       a window instead of the full screen\n"
    "  --no-dialogs     error messages only on standard error (\"Failed!: <text>\"), no message\n"
    "                   boxes; they are written there in any case\n"
    "  --frames N       stop after N frames of the show, as if the window were closed\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "Capturing runs the show on a virtual clock: frame k (k = 1, 2, ...) is the k-th frame\n"
    "after the music starts and shows show time k*1000/fps ms, however long it takes to draw;\n"
    "the music is silent and its end comes when the clock passes its length. Implies\n"
    "--no-dialogs and --windowed.\n"
    "\n"
    "  --capture DIR    write each frame as DIR\\frame_KKKKKK.bmp (24-bit, k zero-padded to 6)\n"
    "  --fps N          frames per second of the virtual clock, 1..1000 (default 60)\n"
    "  --from SEC       capture only frames whose show time is SEC seconds or later (the\n"
    "                   frames before are drawn, not written)\n"
    "  --to SEC         capture only frames whose show time is before SEC seconds, then stop\n"
    "  --press KEY@SECONDS  press and release KEY at that show time; KEY is one of F1 F2 F3\n"
    "                   F4 NUMLOCK DIVIDE ESCAPE (the keyboard reads only these presses)\n"
    "  --overwrite      write into a folder that is not empty\n"
    "  --fullscreen     capture from the full-screen device (under Wine it needs an X screen of\n"
    "                   exactly 640x480x24)\n"
    "\n"
    "Exit status: 0 after a normal end, 1 when the show cannot start (its message names the\n"
    "reason) or a frame cannot be written, 2 for bad arguments.\n";

// A capture folder named relative to where the program was started stays there after the
// program enters its asset folder.
std::string absolute(const std::string& path, const std::string& startFolder) {
    const bool rooted = (path.size() >= 2 && path[1] == ':') ||
                        (!path.empty() && (path[0] == '\\' || path[0] == '/'));
    return rooted ? path : startFolder + "\\" + path;
}

}  // namespace

int main() {
    native::attachParentConsole();
    std::vector<std::string> args = native::commandLineArguments();
    const Options parsed = parseOptions(
        std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()),
        kFlagWindowed | kFlagFullscreen | kFlagNoDialogs | kFlagFps | kFlagFrames | kFlagAssets |
            kFlagPress | kFlagCapture | kFlagFrom | kFlagTo | kFlagOverwrite,
        kUsage, "quillmere " QM_VERSION " (Windows, Direct3D 9)");
    Win32Options options;
    std::string assets = parsed.assets;
    bool windowed = parsed.has(kFlagWindowed);
    const bool fullscreen = parsed.has(kFlagFullscreen);
    const bool overwrite = parsed.has(kFlagOverwrite);
    const bool fpsGiven = parsed.has(kFlagFps);
    const bool windowGiven = parsed.has(kFlagFrom | kFlagTo);
    options.noDialogs = parsed.has(kFlagNoDialogs);
    options.frameLimit = parsed.frameLimit;
    options.captureFolder = parsed.capture;
    options.fps = parsed.fps;
    options.fromMs = parsed.fromMs >= 0 ? parsed.fromMs : 0;
    options.toMs = parsed.toMs;
    options.presses = parsed.presses;
    const bool capturing = !options.captureFolder.empty();
    if (!capturing &&
        (fpsGiven || windowGiven || overwrite || fullscreen || !options.presses.empty()))
        usageError(
            "--fps, --from, --to, --press, --overwrite and --fullscreen belong to --capture");
    if (windowed && fullscreen) usageError("--windowed and --fullscreen exclude each other");

    const std::string startFolder = native::currentDirectory();
    if (capturing) {
        options.noDialogs = true;
        windowed = !fullscreen;
        options.captureFolder = absolute(options.captureFolder, startFolder);
    }
    options.windowed = windowed;

    if (assets.empty()) assets = hasAssets(".") ? "." : native::programFolder();
    if (!hasAssets(assets)) {
        std::fprintf(stderr, "quillmere: no data\\ and vid\\ folders in %s (use --assets DIR)\n",
                     assets.c_str());
        return 1;
    }
    if (capturing) {
        if (!overwrite && !native::directoryIsEmpty(options.captureFolder)) {
            std::fprintf(stderr, "quillmere: %s is not empty (use --overwrite)\n",
                         options.captureFolder.c_str());
            return 2;
        }
        if (!native::makeDirectory(options.captureFolder)) {
            std::fprintf(stderr, "quillmere: cannot make the folder %s\n",
                         options.captureFolder.c_str());
            return 1;
        }
    }
    if (!native::changeDirectory(assets)) {
        std::fprintf(stderr, "quillmere: cannot enter %s\n", assets.c_str());
        return 1;
    }

    Win32Backend backend(options);
    useBackend(backend.services());
    const auto started = std::chrono::steady_clock::now();
    int status = runShow(static_cast<HINSTANCE>(native::getModuleHandle(nullptr)), nullptr, "",
                         SW_SHOWDEFAULT);
    if (capturing) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (backend.framesWritten() > 0) {
            std::fprintf(stderr,
                         "quillmere: captured %llu frames (%llu to %llu) at %u fps to %s in "
                         "%.1f s\n",
                         static_cast<unsigned long long>(backend.framesWritten()),
                         static_cast<unsigned long long>(backend.firstWritten()),
                         static_cast<unsigned long long>(backend.lastWritten()), options.fps,
                         options.captureFolder.c_str(), seconds);
        } else {
            std::fprintf(stderr, "quillmere: no frames captured to %s\n",
                         options.captureFolder.c_str());
        }
        if (backend.captureFailed()) status = 1;
    }
    return status;
}
