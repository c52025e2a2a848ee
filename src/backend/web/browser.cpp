#include "backend/web/browser.h"

#include <emscripten.h>

// Each call is a thin step into the page's own object, Module.qm, where the work is done in the
// browser's terms.

EM_JS(double, qm_now_ms, (), { return performance.now(); });

EM_ASYNC_JS(void, qm_wait_animation_frame, (), {
    await new Promise(function(resolve) {
        requestAnimationFrame(function() {
            Module.qm.frameStarts();
            resolve();
        });
    });
});

EM_ASYNC_JS(void, qm_wait_timer, (),
            { await new Promise(function(resolve) { setTimeout(resolve, 0); }); });

EM_JS(void, qm_frame_shown, (int keep), { Module.qm.frameShown(keep != 0); });

EM_JS(void, qm_show_cursor, (int shown), { Module.qm.showCursor(shown != 0); });

EM_JS(void, qm_show_message, (const char* caption, const char* text),
      { Module.qm.showMessage(UTF8ToString(caption), UTF8ToString(text)); });

EM_JS(void, qm_finished, (int status, const char* reason),
      { Module.qm.finished(status, UTF8ToString(reason)); });

EM_JS(int, qm_music_length, (const char* path, double* lengths), {
    var music = Module.qm.music(UTF8ToString(path));
    if (!music) return 0;
    HEAPF64[lengths >> 3] = music.length;
    HEAPF64[(lengths >> 3) + 1] = music.sampleRate;
    return 1;
});

EM_JS(int, qm_play_music, (const char* path, int looping),
      { return Module.qm.playMusic(UTF8ToString(path), looping != 0) ? 1 : 0; });

EM_JS(double, qm_music_played_ms, (), { return Module.qm.musicPlayedMs(); });

// Decodes into Module.qm.lastPicture; fills sizes[0..1] with its width and height and returns
// 1, or returns 0 and leaves the reason in Module.qm.lastError.
EM_ASYNC_JS(int, qm_decode_picture, (const void* data, int size, int* sizes), {
    var picture = await Module.qm.decodePicture(HEAPU8.slice(data, data + size));
    if (!picture) return 0;
    HEAP32[sizes >> 2] = picture.width;
    HEAP32[(sizes >> 2) + 1] = picture.height;
    return 1;
});

EM_JS(void, qm_picture_copy, (void* out), { HEAPU8.set(Module.qm.lastPicture.pixels, out); });

EM_JS(int, qm_last_error_length, (), { return lengthBytesUTF8(Module.qm.lastError || "") + 1; });

EM_JS(void, qm_last_error, (char* out, int capacity),
      { stringToUTF8(Module.qm.lastError || "", out, capacity); });

EM_JS(int, qm_font_metrics, (double emPx, int weight, double* out), {
    var metrics = Module.qm.fontMetrics(emPx, weight);
    if (!metrics) return 0;
    HEAPF64[out >> 3] = metrics.ascent;
    HEAPF64[(out >> 3) + 1] = metrics.descent;
    return 1;
});

// Renders the glyph into Module.qm's glyph slot and returns its box in sizes[0..4]: left, top,
// width, rows, advance.
EM_JS(void, qm_glyph_size, (int byte, double emPx, int weight, int* sizes), {
    var g = Module.qm.glyph(byte, emPx, weight);
    HEAP32[sizes >> 2] = g.left;
    HEAP32[(sizes >> 2) + 1] = g.top;
    HEAP32[(sizes >> 2) + 2] = g.width;
    HEAP32[(sizes >> 2) + 3] = g.rows;
    HEAP32[(sizes >> 2) + 4] = g.advance;
});

EM_JS(void, qm_glyph_copy, (void* out), { HEAPU8.set(Module.qm.lastGlyph.coverage, out); });

namespace browser {

double nowMs() {
    return qm_now_ms();
}

void waitForAnimationFrame() {
    qm_wait_animation_frame();
}

void waitForTimer() {
    qm_wait_timer();
}

void frameShown(bool keep) {
    qm_frame_shown(keep ? 1 : 0);
}

void showCursor(bool shown) {
    qm_show_cursor(shown ? 1 : 0);
}

void showMessage(const char* caption, const char* text) {
    qm_show_message(caption, text);
}

void finished(int status, const char* reason) {
    qm_finished(status, reason != nullptr ? reason : "");
}

bool musicLength(const std::string& path, int64_t* samples, int64_t* rate) {
    double lengths[2] = {0.0, 0.0};
    if (!qm_music_length(path.c_str(), lengths)) return false;
    *samples = static_cast<int64_t>(lengths[0]);
    *rate = static_cast<int64_t>(lengths[1]);
    return true;
}

bool playMusic(const std::string& path, bool looping) {
    return qm_play_music(path.c_str(), looping ? 1 : 0) != 0;
}

double musicPlayedMs() {
    return qm_music_played_ms();
}

bool decodePicture(const unsigned char* data, size_t size, unsigned* width, unsigned* height,
                   std::string* rgba, std::string* error) {
    int sizes[2] = {0, 0};
    if (!qm_decode_picture(data, static_cast<int>(size), sizes)) {
        std::string reason(static_cast<size_t>(qm_last_error_length()), '\0');
        qm_last_error(&reason[0], static_cast<int>(reason.size()));
        reason.resize(reason.size() - 1);
        if (error) *error = reason;
        return false;
    }
    *width = static_cast<unsigned>(sizes[0]);
    *height = static_cast<unsigned>(sizes[1]);
    rgba->assign(static_cast<size_t>(*width) * *height * 4, '\0');
    qm_picture_copy(&(*rgba)[0]);
    return true;
}

bool fontMetrics(double emPx, int weight, double* ascent, double* descent) {
    double out[2] = {0.0, 0.0};
    if (!qm_font_metrics(emPx, weight, out)) return false;
    *ascent = out[0];
    *descent = out[1];
    return true;
}

void glyph(unsigned char byte, double emPx, int weight, GlyphRenderer::Glyph* out) {
    int sizes[5] = {0, 0, 0, 0, 0};
    qm_glyph_size(byte, emPx, weight, sizes);
    out->left = sizes[0];
    out->top = sizes[1];
    out->width = sizes[2];
    out->rows = sizes[3];
    out->advance = sizes[4];
    out->coverage.assign(static_cast<size_t>(out->width) * out->rows, 0);
    if (!out->coverage.empty()) qm_glyph_copy(out->coverage.data());
}

}  // namespace browser
