// quillmere in a web page: the show on the page's canvas with its music, or with ?at=SECONDS one
// frame of it handed to the page as a PNG. The page (index.html, quillmere-page.js) loads the
// show's files into the program's file system first and passes the query as arguments:
// --screenshot SECONDS page.png for ?at=, --press KEY@SECONDS for each &press=, --fps N for &fps=.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "backend/backend.h"
#include "backend/soft/soft_graphics.h"
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

// Still mode: the renderer draws only the wanted frame; the frames before it run undrawn, so
// that it is the frame a full run draws.
class StillFrames : public FrameListener {
  public:
    StillFrames(SoftGraphics& renderer, const CaptureWindow& window)
        : renderer_(renderer), window_(window) {
        renderer_.setRasterizing(false);
    }
    void frameBegins(uint64_t k) override { renderer_.setRasterizing(window_.contains(k)); }
    void showStopping() override { renderer_.setRasterizing(false); }

  private:
    SoftGraphics& renderer_;
    CaptureWindow window_;
};

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

    // The page has one thread for the program.
    SoftOptions softOptions;
    softOptions.threads = 1;
    softOptions.sink = &web;
    SoftGraphics graphics(softOptions);
    std::unique_ptr<StillFrames> still;
    if (web.still()) {
        still = std::make_unique<StillFrames>(graphics, web.window());
        web.frames().addListener(still.get());
    }

    listenToPage(web, "#qm-canvas");
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
