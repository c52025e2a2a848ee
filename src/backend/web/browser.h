#pragma once
// What the program asks of its page (app/web/quillmere-page.js, reached as Module.qm): the
// text on the page, the page's clock, the music the page decoded while it loaded the show's
// files, pictures and text through the browser's own decoder and text drawing.
#include <cstddef>
#include <cstdint>
#include <string>

#include "backend/imaging/glyph_renderer.h"

namespace browser {

// Milliseconds of the page's monotonic clock.
double nowMs();
// Gives the browser its turn until the next animation frame (live) or a timer (still).
void waitForAnimationFrame();
void waitForTimer();

// The canvas holds a new frame; `keep` also puts it on the page as a PNG (the still mode's
// frame).
void frameShown(bool keep);
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

// Decodes an image file held in memory with the browser's decoder: RGBA bytes, rows from the
// top. False with a reason. The program waits for the browser meanwhile.
bool decodePicture(const unsigned char* data, size_t size, unsigned* width, unsigned* height,
                   std::string* rgba, std::string* error);

// Text drawn by the browser: the font's ascent and descent at `emPx` pixels to the em, and one
// character's coverage (the alpha of white text on a clear canvas), the character given as a
// byte of code page 1252.
bool fontMetrics(double emPx, int weight, double* ascent, double* descent);
void glyph(unsigned char byte, double emPx, int weight, GlyphRenderer::Glyph* out);

}  // namespace browser
