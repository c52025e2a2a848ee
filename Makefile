# The two front-door commands are `make show` and `make test`; the rest serve development.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 60

.PHONY: all deps configure build show test unit desktop-check sanitize fuzz fuzz-build bench format format-check clean

all: build

deps:
	@scripts/deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Plays the default content in a window; without a display it is captured to quillmere.mp4.
# Builds only what it plays: the program and the content, not the tests or benchmarks.
show: configure
	@cmake --build $(BUILD) -j $(JOBS) --target quillmere content
	@QM_FALLBACK_CAPTURE=quillmere.mp4 $(BUILD)/app/quillmere --assets $(BUILD)/content

unit: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The fuzz run, the desktop check and the Windows program under Wine come first so the test
# runner's summary closes the output.
test: fuzz desktop-check wine-check web-check
	@$(MAKE) --no-print-directory unit

# The real program in a window of a virtual X server: keys, picture, Escape and closing; once with
# the default renderer and once with the GL renderer drawing into the window.
desktop-check: build
	@QM_VID=$(BUILD)/tools/quillmere-vid scripts/desktop_check.sh $(BUILD)/app/quillmere
	@QM_RENDERER=gl QM_VID=$(BUILD)/tools/quillmere-vid scripts/desktop_check.sh $(BUILD)/app/quillmere

sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQM_SANITIZE=ON -DQM_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQM_SANITIZE=ON -DQM_FUZZ=ON -DQM_BUILD_TESTS=OFF -DQM_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

# A short run seeded from a corpus the encoder makes; FUZZ_SECONDS=3600 for a long one.
fuzz: fuzz-build build
	@scripts/fuzz.sh $(FUZZ_BUILD) $(BUILD) $(FUZZ_SECONDS)

bench: build
	@for b in $(BUILD)/bench/*_bench; do $$b; done

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(WIN_BUILD) $(WIN64_BUILD) $(WEB_BUILD)

# The native Windows program, cross-built with mingw-w64 (installed when missing): the 32-bit
# one that ships, and the same sources as a 64-bit one.
WIN_BUILD ?= build-win
WIN64_BUILD ?= build-win64
.PHONY: windows wine-check
windows:
	@scripts/windows_build.sh i686 $(WIN_BUILD)
	@scripts/windows_build.sh x86_64 $(WIN64_BUILD)

# The Windows program under 64-bit Wine in a virtual X server, compared with the CPU renderer.
wine-check: build
	@QM_HOST_BUILD=$(BUILD) scripts/wine_check.sh

.PHONY: golden-update contact-sheet

# Rewrites tests/data/golden_frames.txt from the frames this build draws: only for an intended
# change of the picture.
golden-update: build
	@scripts/golden_update.sh $(BUILD)

# One frame every 10 s of show time, tiled into docs/contact_sheet.png.
contact-sheet: build
	@scripts/contact_sheet.sh $(BUILD) docs/contact_sheet.png

# The web player: a static site in $(WEB_BUILD)/site (the page, the program as WebAssembly
# through Debian's emscripten, the default content); `make web-serve` serves it on 127.0.0.1
# (PORT, default 8000) for a look in a browser.
WEB_BUILD ?= build-web
PORT ?= 8000
.PHONY: web web-serve web-check
web: configure
	@cmake --build $(BUILD) -j $(JOBS) --target content
	@JOBS=$(JOBS) scripts/web_build.sh $(BUILD)/content $(WEB_BUILD)

web-serve: web
	@echo "web: serving $(WEB_BUILD)/site on http://127.0.0.1:$(PORT)/ (Ctrl-C ends)"
	@python3 -m http.server $(PORT) --bind 127.0.0.1 --directory $(WEB_BUILD)/site

# The site in headless Chromium: still frames against the native program's, the failure pages.
web-check: web build
	@scripts/web_check.sh $(WEB_BUILD)/site $(BUILD)/app/quillmere
