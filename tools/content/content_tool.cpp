#include "content/content_tool.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <ostream>

#include "content/content_io.h"
#include "content/music.h"
#include "content/pictures.h"
#include "content/tracks.h"
#include "content/videos.h"

namespace content {

namespace {

const int kJpegQuality = 90;
// The brushes are black around thin bright marks, and a JPEG rings faintly around such marks.
// Hundreds of imprints pile up where a stroke ends, so those faint texels darken the pile (first
// stroke) or add up to a veil (second stroke); at full quality the ringing is a level or two.
// The brushes are small files either way.
const int kBrushQuality = 100;

std::vector<uint8_t> track1(uint32_t seed) {
    return encodeTrack(designTrack1(seed));
}
std::vector<uint8_t> track2(uint32_t seed) {
    return encodeTrack(designTrack2(seed));
}
std::vector<uint8_t> paper(uint32_t seed) {
    return encodeJpeg(drawPaper(seed), kJpegQuality);
}
std::vector<uint8_t> bristle(uint32_t seed) {
    return encodeJpeg(drawBrush(BrushKind::Bristle, seed), kBrushQuality);
}
std::vector<uint8_t> dryBrush(uint32_t seed) {
    return encodeJpeg(drawBrush(BrushKind::DryBrush, seed), kBrushQuality);
}
std::vector<uint8_t> spark(uint32_t seed) {
    return encodeJpeg(drawBrush(BrushKind::Spark, seed), kBrushQuality);
}
std::vector<uint8_t> splatter(uint32_t seed) {
    return encodeJpeg(drawBrush(BrushKind::Splatter, seed), kBrushQuality);
}

const char kUsage[] =
    "usage: quillmere-content OUTDIR [--seed N]\n"
    "\n"
    "Writes the show's default content under OUTDIR: data/track1.data, data/track2.data,\n"
    "data/paper1.jpg, data/brushes/{brush1,brush2,zor_brush2,zor_brush4}.jpg, vid/kasi.vid,\n"
    "vid/vemla.vid and data/aaa.mp3. The same seed always gives the same bytes.\n"
    "\n"
    "  --seed N   seed for every asset, 0..4294967295 (default 1)\n"
    "  --help     this text\n"
    "\n"
    "Run the show on it with: quillmere --assets OUTDIR\n";

bool parseSeed(const std::string& text, uint32_t* seed) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    *seed = uint32_t(v);
    return true;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

const std::vector<Asset>& assets() {
    static const std::vector<Asset> list = {
        {"data/track1.data", track1},
        {"data/track2.data", track2},
        {"data/paper1.jpg", paper},
        {"data/brushes/brush1.jpg", bristle},
        {"data/brushes/brush2.jpg", dryBrush},
        {"data/brushes/zor_brush2.jpg", spark},
        {"data/brushes/zor_brush4.jpg", splatter},
        {"vid/kasi.vid", makeOverlayVideo},
        {"vid/vemla.vid", makeBackgroundVideo},
    };
    return list;
}

int runContentTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   MusicWriter music) {
    if (!music) music = writeMusic;
    const char* const name = "quillmere-content: ";
    std::string outDir;
    bool haveOutDir = false;
    uint32_t seed = kDefaultSeed;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out << kUsage;
            return 0;
        }
        if (a == "--seed" || a.compare(0, 7, "--seed=") == 0) {
            std::string value;
            if (a == "--seed") {
                if (i + 1 == args.size()) {
                    err << name << "--seed needs a number\n";
                    return 2;
                }
                value = args[++i];
            } else {
                value = a.substr(7);
            }
            if (!parseSeed(value, &seed)) {
                err << name << "bad seed '" << value << "' (want a whole number 0..4294967295)\n";
                return 2;
            }
            continue;
        }
        if (a.size() > 1 && a[0] == '-') {
            err << name << "unknown option '" << a << "' (see --help)\n";
            return 2;
        }
        if (haveOutDir) {
            err << name << "one output folder only, got '" << outDir << "' and '" << a << "'\n";
            return 2;
        }
        if (a.empty()) {
            err << name << "the output folder name is empty\n";
            return 2;
        }
        outDir = a;
        haveOutDir = true;
    }
    if (!haveOutDir) {
        err << name << "no output folder (usage: quillmere-content OUTDIR [--seed N])\n";
        return 2;
    }
    while (outDir.size() > 1 && outDir.back() == '/') outDir.pop_back();

    std::string error;
    for (const Asset& asset : assets()) {
        const std::string path = outDir + "/" + asset.path;
        std::vector<uint8_t> bytes;
        try {
            bytes = asset.make(seed);
        } catch (const std::exception& e) {
            err << name << asset.path << ": " << e.what() << "\n";
            return 1;
        }
        if (!makeDirectories(folderOf(path), &error) || !writeFileAtomically(path, bytes, &error)) {
            err << name << error << "\n";
            return 1;
        }
        out << name << "wrote " << path << " (" << bytes.size() << " bytes)\n" << std::flush;
    }
    const std::string musicPath = outDir + "/" + kMusicPath;
    if (!music(musicPath, seed, &error)) {
        err << name << musicPath << ": " << error << "\n";
        return 1;
    }
    struct stat info;
    out << name << "wrote " << musicPath;
    if (stat(musicPath.c_str(), &info) == 0) out << " (" << info.st_size << " bytes)";
    out << "\n";
    return 0;
}

}  // namespace content
