#pragma once
// What the program asks of its page (web/page/quillmere-page.js, reached as Module.qm): the
// canvas, the text on the page, the page's clock, the music and pictures the page decoded while
// it loaded the show's files, and text drawn by the browser.
#include <cstdint>
#include <string>

namespace browser {

// Milliseconds of the page's monotonic clock.
double nowMs();
// Gives the browser its turn until the next animation frame (live) or a timer (still).
void waitForAnimationFrame();
void waitForTimer();

// Shows a frame of A8R8G8B8 pixels (0xAARRGGBB, rows from the top) on the canvas; `keep` also
// puts it on the page as a PNG (the still mode's frame).
void present(const uint32_t* pixels, int width, int height, bool keep);
void showCursor(bool shown);
// A message box's caption and text, on the page.
void showMessage(const char* caption, const char* text);
// The show is over: 0 ended normally, anything else failed; `reason` for the page, may be empty.
void finished(int status, const char* reason);

// The decoded music for the file at `path` (a native path): its length in samples per channel
// and their rate. False when the page has none (missing or undecodable file).
bool musicLength(const std::string& path, int64_t* samples, int64_t* rate);
// Starts the decoded music (looping or not); false when there is none or no audio.
bool playMusic(const std::string& path, bool looping);
// Milliseconds of music played since playMusic, by the audio clock.
double musicPlayedMs();

// The picture the page decoded for `path`: RGBA bytes, rows from the top. False with a reason.
bool picture(const std::string& path, unsigned* width, unsigned* height, std::string* rgba,
             std::string* error);

// Text drawn by the browser: the font's ascent and descent at `emPx` pixels to the em, and one
// character's coverage (the alpha of white text on a clear canvas).
struct GlyphImage {
    int left = 0;
    int top = 0;
    int width = 0;
    int rows = 0;
    int advance = 0;
    std::string coverage;
};
bool fontMetrics(double emPx, int weight, double* ascent, double* descent);
void glyph(uint32_t codePoint, double emPx, int weight, GlyphImage* out);

}  // namespace browser
