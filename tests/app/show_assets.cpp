#include "show_assets.h"

#include <jpeglib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "vid/vid_encoder.h"

namespace show_assets {

std::string appPath() {
    const char* dir = std::getenv("QM_APP_DIR");
    return std::string(dir != nullptr ? dir : QM_APP_DIR) + "/quillmere";
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<uint8_t> trackFile(int seed) {
    std::vector<uint8_t> bytes;
    for (int n = 0; n < 133; ++n) {
        float values[4] = {float(0.6 * std::sin(0.11 * n + seed)), float(0.4 * std::cos(0.07 * n)),
                           float(0.6 * std::sin(0.11 * n + seed + 0.3)),
                           float(0.4 * std::cos(0.07 * n + 0.3))};
        const uint8_t* p = reinterpret_cast<const uint8_t*>(values);
        bytes.insert(bytes.end(), p, p + sizeof values);
    }
    return bytes;
}

std::vector<uint8_t> videoFile(int frames, int seed) {
    std::vector<std::vector<uint8_t>> records;
    for (int f = 0; f < frames; ++f) {
        YuvPicture p;
        p.width = p.height = 256;
        p.y.resize(256 * 256);
        p.cb.assign(256 * 256, 128);
        p.cr.assign(256 * 256, 140);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                p.y[y * 256 + x] = uint8_t(16 + (x + y * 2 + f * 9 + seed * 50) % 220);
        EncoderOptions options;
        options.cellWidth = options.cellHeight = 16;
        records.push_back(encodeFrame(p, options));
    }
    return buildVideoImage(records);
}

namespace {

// Writes an RGB JPEG at quality 90; pixel(x, y) gives 0xRRGGBB.
void writeJpeg(const std::string& path, int width, int height,
               const std::function<uint32_t(int, int)>& pixel) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    jpeg_start_compress(&info, TRUE);
    std::vector<uint8_t> row(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t c = pixel(x, y);
            row[3 * x] = uint8_t(c >> 16);
            row[3 * x + 1] = uint8_t(c >> 8);
            row[3 * x + 2] = uint8_t(c);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::fclose(file);
}

// A small fixed hash, so the grain of the images is the same on every machine.
uint32_t grain(int x, int y, int seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + uint32_t(seed) * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

uint32_t grey(int v) {
    v = v < 0 ? 0 : v > 255 ? 255 : v;
    return uint32_t(v) * 0x010101u;
}

// Bright where the brush lays paint, black around it.
uint32_t roundBrush(int x, int y, int size, int seed) {
    double dx = (x + 0.5) / size * 2 - 1, dy = (y + 0.5) / size * 2 - 1;
    double r = std::sqrt(dx * dx + dy * dy);
    double body = r >= 1 ? 0 : std::pow(1 - r, 0.7);
    return grey(int(body * (200 + int(grain(x, y, seed) % 56))));
}

uint32_t streakBrush(int x, int y, int size) {
    double dy = (y + 0.5) / size * 2 - 1;
    double across = 1 - std::fabs(dy);
    double bristles = 0.6 + 0.4 * std::sin(y * 1.7) * std::sin(y * 0.31 + 1);
    double along = std::sin(3.14159265 * (x + 0.5) / size);
    return grey(int(255 * across * bristles * along));
}

uint32_t paper(int x, int y) {
    int fibre = int(grain(x / 2, y, 7) % 24) + int(grain(x, y / 3, 9) % 12);
    int base = 226 + fibre / 2 - 9;
    return uint32_t(base) << 16 | uint32_t(base - 6) << 8 | uint32_t(base - 20);
}

}  // namespace

void writeImages(const std::string& dir) {
    mkdir((dir + "/data/brushes").c_str(), 0755);
    writeJpeg(dir + "/data/brushes/brush1.jpg", 64, 64,
              [](int x, int y) { return roundBrush(x, y, 64, 1); });
    writeJpeg(dir + "/data/brushes/brush2.jpg", 64, 64,
              [](int x, int y) { return streakBrush(x, y, 64); });
    writeJpeg(dir + "/data/brushes/zor_brush2.jpg", 32, 32,
              [](int x, int y) { return roundBrush(x, y, 32, 2); });
    writeJpeg(dir + "/data/brushes/zor_brush4.jpg", 64, 64,
              [](int x, int y) { return roundBrush(x / 2 * 2, y, 64, 3); });
    writeJpeg(dir + "/data/paper1.jpg", 256, 256, paper);
}

bool writeMusic(const std::string& dir, double seconds) {
    if (std::system("command -v lame >/dev/null 2>&1") != 0) return false;
    const int rate = 44100, samples = int(rate * seconds);
    std::vector<uint8_t> wav(44 + size_t(samples) * 2);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) wav[at + i] = uint8_t(v >> (8 * i));
    };
    std::memcpy(&wav[0], "RIFF", 4);
    put32(4, uint32_t(wav.size() - 8));
    std::memcpy(&wav[8], "WAVEfmt ", 8);
    put32(16, 16);
    put32(20, 1 | (1 << 16));
    put32(24, rate);
    put32(28, rate * 2);
    put32(32, 2 | (16 << 16));
    std::memcpy(&wav[36], "data", 4);
    put32(40, uint32_t(samples * 2));
    for (int i = 0; i < samples; ++i) {
        int16_t v = int16_t(3000 * std::sin(i * 0.05));
        wav[44 + 2 * i] = uint8_t(v);
        wav[45 + 2 * i] = uint8_t(uint16_t(v) >> 8);
    }
    writeFile(dir + "/tone.wav", wav);
    return std::system(
               ("lame --quiet -b 64 '" + dir + "/tone.wav' '" + dir + "/data/aaa.mp3'").c_str()) ==
           0;
}

std::string makeAssetFolder(bool images) {
    char templ[] = "/tmp/qm-show-XXXXXX";
    std::string dir = mkdtemp(templ);
    mkdir((dir + "/data").c_str(), 0755);
    mkdir((dir + "/vid").c_str(), 0755);
    writeFile(dir + "/data/track1.data", trackFile(0));
    writeFile(dir + "/data/track2.data", trackFile(2));
    writeFile(dir + "/vid/kasi.vid", videoFile(3, 0));
    writeFile(dir + "/vid/vemla.vid", videoFile(2, 1));
    if (images) writeImages(dir);
    return dir;
}

void removeFolder(const std::string& dir) {
    if (dir.rfind("/tmp/qm-", 0) == 0) std::system(("rm -rf '" + dir + "'").c_str());
}

Outcome runApp(const std::string& dir, const std::string& args, const std::string& environment) {
    const std::string outPath = dir + "/stdout.bin", errPath = dir + "/stderr.txt";
    std::string command = environment + " '" + appPath() + "' --assets '" + dir + "' " + args +
                          " >'" + outPath + "' 2>'" + errPath + "'";
    int raw = std::system(command.c_str());
    Outcome r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

uint64_t fnv1a64(const uint8_t* bytes, size_t size) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    return h;
}

}  // namespace show_assets
