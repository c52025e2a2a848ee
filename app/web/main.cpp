// quillmere in a web page: the show on the page's canvas with its music, or with ?at=SECONDS one
// frame of it handed to the page as a PNG. The page (index.html, quillmere-page.js) loads the
// show's files into the program's file system first and passes the query as arguments:
// --screenshot SECONDS page.png for ?at=, --press KEY@SECONDS for each &press=, --fps N for &fps=.
#include <emscripten/html5.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "backend/gl/gl_api.h"
#include "backend/gl/gl_device.h"
#include "backend/gl/gl_graphics.h"
#include "backend/web/browser.h"
#include "backend/web/web_backend.h"
#include "options.h"
#include "shell/show.h"

namespace {

const char* const kUsage =
    "usage: quillmere [--screenshot SEC page.png [--press KEY@SECONDS]... [--fps N]]\n"
    "\n"
    "Plays the show on the page's canvas with its music. With --screenshot, runs the show on a\n"
    "virtual clock of --fps frames per second (default 60) to the first frame at SEC seconds or\n"
    "later, draws only that frame and puts it on the page.\n";

const char* const kCanvas = "#qm-canvas";

// Still mode: the renderer draws only the wanted frame; the frames before it run undrawn, so
// that it is the frame a full run draws.
class StillFrames : public FrameListener {
  public:
    StillFrames(Renderer& renderer, const CaptureWindow& window)
        : renderer_(renderer), window_(window) {
        renderer_.setRasterizing(false);
    }
    void frameBegins(uint64_t k) override { renderer_.setRasterizing(window_.contains(k)); }
    void showStopping() override { renderer_.setRasterizing(false); }

  private:
    Renderer& renderer_;
    CaptureWindow window_;
};

// The canvas's WebGL 2 context, current from here on; false when the browser has none.
bool makeContext(bool keepDrawing) {
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.majorVersion = 2;
    attributes.minorVersion = 0;
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_FALSE;
    attributes.stencil = EM_FALSE;
    attributes.antialias = EM_FALSE;
    // The still mode's frame is read from the canvas after it is drawn.
    attributes.preserveDrawingBuffer = keepDrawing ? EM_TRUE : EM_FALSE;
    attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
    const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context =
        emscripten_webgl_create_context(kCanvas, &attributes);
    return context > 0 &&
           emscripten_webgl_make_context_current(context) == EMSCRIPTEN_RESULT_SUCCESS;
}

// Draws the finished frame over the whole canvas (the page keeps the canvas at the picture's
// aspect, at device pixels) and draws the next frame at the canvas's size.
void showFrame(WebBackend& web, GlDevice& device) {
    int width = 0, height = 0;
    emscripten_webgl_get_drawing_buffer_size(emscripten_webgl_get_current_context(), &width,
                                             &height);
    if (width > 0 && height > 0) {
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, width, height);
        device.drawFrameTo(0, 0, width, height);
        // The still mode's frame stays at the device's own size.
        if (!web.still()) device.setTargetSize(width, height);
    }
    web.frameDrawn();
}

}  // namespace

int main(int argc, char** argv) {
    const Options parsed =
        parseOptions(std::vector<std::string>(argv + 1, argv + argc),
                     kFlagScreenshot | kFlagPress | kFlagFps, kUsage, "quillmere " QM_VERSION);
    if (parsed.screenshotMs < 0 && parsed.has(kFlagPress | kFlagFps))
        usageError("--press and --fps belong to a still frame (--screenshot)");

    WebOptions options;
    options.stillMs = parsed.screenshotMs;
    options.fps = parsed.fps;
    options.presses = parsed.presses;
    WebBackend web(options);

    std::string error;
    if (!makeContext(web.still()) || !GlGraphics::canDraw(&error)) {
        std::fprintf(stderr, "quillmere: the GL renderer cannot start: %s\n",
                     error.empty() ? "no WebGL 2 context" : error.c_str());
        browser::finished(1, "");
        return 1;
    }
    GlOptions glOptions;
    glOptions.presented = [&web](GlDevice& device) { showFrame(web, device); };
    GlGraphics graphics(glOptions);
    std::unique_ptr<StillFrames> still;
    if (web.still()) {
        still = std::make_unique<StillFrames>(graphics, web.window());
        web.frames().addListener(still.get());
    }

    listenToPage(web, kCanvas);
    useBackend(web.services(&graphics));
    const int status = runShow(nullptr, nullptr, "", 1);
    useBackend(Backend{});
    int result = status;
    if (status == 0 && web.still() && !web.stillDelivered()) {
        std::fprintf(stderr,
                     "quillmere: the show ended at %.3f s of show time without drawing a frame "
                     "at %.3f s or later\n",
                     double(web.showMs()) / 1000.0,
                     double(web.window().showMs(web.window().firstFrame())) / 1000.0);
        result = 1;
    }
    // After the program has yielded to the page, returning from main ends nothing the page
    // hears of: it is told here.
    browser::finished(result, "");
    return result;
}
