// The background video step against libjpeg-turbo decoding the same picture, in one run.
// Reports (a) the whole step, (b) decodeFrame alone, (c) the JPEG decode, and the ratios
// (a)/(c) and (b)/(c), so the figures travel between machines.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "vid/vid_encoder.h"
#include "video/video_decoder.h"
#include "video/yuv_surface.h"

namespace {

const int kSize = 256;

// A picture with smooth areas, edges and fine texture, so that every cell carries residuals.
YuvPicture testPicture() {
    YuvPicture p;
    p.width = p.height = kSize;
    p.y.resize(kSize * kSize);
    p.cb.resize(kSize * kSize);
    p.cr.resize(kSize * kSize);
    uint32_t s = 2024;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            s = s * 1664525u + 1013904223u;
            double r = std::hypot(x - 128.0, y - 110.0);
            double v = 120 + 70 * std::sin(r / 9.0) + 30 * std::cos(x / 17.0 + y / 23.0);
            v += double((s >> 24) % 25) - 12;
            if ((x / 32 + y / 32) % 2 == 0 && r > 90) v -= 40;
            int i = y * kSize + x;
            p.y[i] = uint8_t(std::min(235.0, std::max(16.0, v)));
            p.cb[i] = uint8_t(128 + 50 * std::sin(x / 40.0));
            p.cr[i] = uint8_t(128 + 50 * std::cos(y / 30.0 + x / 70.0));
        }
    return p;
}

struct Fixture {
    Fixture() {
        decoder.init();
        YuvPicture picture = testPicture();
        EncoderOptions options;
        options.threshold = -1;  // residuals in every cell
        FrameStats stats;
        std::vector<uint8_t> record = encodeFrame(picture, options, &stats);
        video = buildVideoImage({record, record});
        image = {video.data(), int32_t(video.size())};
        residualCells = stats.residualCells;
        jpeg = compressJpeg(picture);
        texels.resize(kSize * kSize * 4);
        rgb.resize(kSize * kSize * 3);
    }

    static std::vector<uint8_t> compressJpeg(const YuvPicture& p) {
        // The JPEG gets the same picture in RGB, at quality 85 with 4:2:0 chroma.
        std::vector<uint8_t> rgbIn(kSize * kSize * 3);
        for (int i = 0; i < kSize * kSize; ++i) {
            double yy = 1.164 * (p.y[i] - 16), cb = p.cb[i] - 128.0, cr = p.cr[i] - 128.0;
            double c[3] = {yy + 1.596 * cr, yy - 0.813 * cr - 0.391 * cb, yy + 2.018 * cb};
            for (int k = 0; k < 3; ++k)
                rgbIn[i * 3 + k] = uint8_t(std::min(255.0, std::max(0.0, c[k])));
        }
        jpeg_compress_struct cinfo;
        jpeg_error_mgr jerr;
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_compress(&cinfo);
        unsigned char* out = nullptr;
        unsigned long outSize = 0;
        jpeg_mem_dest(&cinfo, &out, &outSize);
        cinfo.image_width = kSize;
        cinfo.image_height = kSize;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_set_quality(&cinfo, 85, TRUE);
        jpeg_start_compress(&cinfo, TRUE);
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW row = &rgbIn[cinfo.next_scanline * kSize * 3];
            jpeg_write_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_compress(&cinfo);
        std::vector<uint8_t> result(out, out + outSize);
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        return result;
    }

    void decodeJpeg() {
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr jerr;
        cinfo.err = jpeg_std_error(&jerr);
        jpeg_create_decompress(&cinfo);
        jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = &rgb[cinfo.output_scanline * kSize * 3];
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
    }

    // What the show does for the background video every frame, with typical effect values.
    void backgroundStep(int frame) {
        unsigned char* px = surface.pixels();
        decoder.decodeFrame(image, px, surface.bytes(), 0);
        surface.addNoise(0, 20);
        int e = 16 * frame;
        surface.adjustLevels(0, float(std::sin(double(e >> 5))),
                             2 * float(std::cos(double(e >> 6))));
        surface.blurRun(0, int(float(std::sin(frame * 0.01)) * 7.0f));
        surface.blurColumns(0, int(float(std::cos(frame * 0.02)) * 5.0f));
        surface.sharpen(0, 3);
        decoder.toARGB(px, texels.data(), kSize * 4, kSize, kSize);
        surface.adjustLevels(0, 1.5f, 3.0f);
        decoder.copyLane(px, texels.data(), 3, kSize * 4, kSize, kSize);
    }

    VideoDecoder decoder;
    YUVSurface surface{kSize, kSize};
    std::vector<uint8_t> video;
    VideoImage image;
    std::vector<uint8_t> jpeg;
    std::vector<uint8_t> texels;
    std::vector<uint8_t> rgb;
    int residualCells = 0;
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_BackgroundStep(benchmark::State& state) {
    Fixture& f = fixture();
    int frame = 0;
    for (auto _ : state) {
        f.backgroundStep(frame++);
        benchmark::DoNotOptimize(f.texels.data());
    }
}

void BM_DecodeFrame(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        f.decoder.decodeFrame(f.image, f.surface.pixels(), f.surface.bytes(), 0);
        benchmark::DoNotOptimize(f.surface.pixels());
    }
    state.counters["residual_cells"] = f.residualCells;
}

void BM_JpegDecode(benchmark::State& state) {
    Fixture& f = fixture();
    for (auto _ : state) {
        f.decodeJpeg();
        benchmark::DoNotOptimize(f.rgb.data());
    }
    state.counters["jpeg_bytes"] = double(f.jpeg.size());
}

BENCHMARK(BM_BackgroundStep)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_DecodeFrame)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_JpegDecode)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();

// Keeps the median time of every benchmark for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> medians;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& m = reporter.medians;
    if (m.count("BM_JpegDecode") && m["BM_JpegDecode"] > 0) {
        double c = m["BM_JpegDecode"];
        if (m.count("BM_BackgroundStep"))
            std::printf("ratio (a) background step / (c) jpeg decode: %.2f (goal <= 1.5)\n",
                        m["BM_BackgroundStep"] / c);
        if (m.count("BM_DecodeFrame"))
            std::printf("ratio (b) decodeFrame / (c) jpeg decode:     %.2f (goal <= 0.5)\n",
                        m["BM_DecodeFrame"] / c);
    }
    benchmark::Shutdown();
    return 0;
}
