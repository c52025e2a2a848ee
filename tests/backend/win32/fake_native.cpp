#include "backend/win32/fake_native.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "backend/win32/music_player.h"

namespace fake {

namespace {

State current;

struct Object {
    int references = 1;
    std::vector<uint8_t> memory;
};

// Every object made and not released; the platform would free them with the process.
std::set<Object*> objects;

void* make(size_t bytes = 0) {
    Object* object = new Object;
    object->memory.resize(bytes);
    objects.insert(object);
    ++current.liveObjects;
    return object;
}

template <class... Values>
void note(const char* name, Values... values) {
    std::ostringstream line;
    line << name;
    ((line << ' ' << values), ...);
    current.log.push_back(line.str());
}

std::map<std::string, uint16_t> classes;
std::map<void*, uint16_t> windows;
uintptr_t nextWindow = 0x100;

constexpr uint32_t kQuit = 0x0012;
constexpr uint32_t kDestroy = 0x0002;
constexpr uint32_t kKeyDown = 0x0100;

}  // namespace

State& state() {
    return current;
}

void reset() {
    for (Object* object : objects) delete object;
    objects.clear();
    current = State();
    classes.clear();
    windows.clear();
}

bool logged(const std::string& prefix) {
    for (const std::string& line : current.log) {
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

}  // namespace fake

using fake::current;
using fake::make;
using fake::note;

namespace native {

uint32_t release(void* object) {
    auto* o = static_cast<fake::Object*>(object);
    if (o == nullptr) return 0;
    const uint32_t left = uint32_t(--o->references);
    if (left == 0) {
        fake::objects.erase(o);
        delete o;
        --current.liveObjects;
    }
    return left;
}

void* direct3DCreate9(uint32_t sdkVersion) {
    note("direct3DCreate9", sdkVersion);
    return make();
}

int32_t getAdapterDisplayMode(void*, uint32_t adapter, uint32_t mode[4]) {
    note("getAdapterDisplayMode", adapter);
    mode[0] = 640;
    mode[1] = 480;
    mode[2] = 60;
    mode[3] = 22;
    return 0;
}

int32_t createDevice(void*, uint32_t adapter, uint32_t deviceType, void*, uint32_t behaviorFlags,
                     PresentParameters* parameters, void** device) {
    note("createDevice", adapter, deviceType, behaviorFlags, parameters->windowed);
    current.lastParameters = *parameters;
    current.lastBehaviorFlags = behaviorFlags;
    *device = make();
    return 0;
}

int32_t clear(void*, uint32_t flags, uint32_t colour, float z, uint32_t stencil) {
    note("clear", flags, colour, z, stencil);
    return 0;
}
int32_t beginScene(void*) {
    return 0;
}
int32_t endScene(void*) {
    return 0;
}
int32_t present(void*) {
    ++current.presents;
    return 0;
}
int32_t setRenderState(void*, uint32_t state, uint32_t value) {
    note("setRenderState", state, value);
    return 0;
}
int32_t setTextureStageState(void*, uint32_t stage, uint32_t type, uint32_t value) {
    note("setTextureStageState", stage, type, value);
    return 0;
}
int32_t setSamplerState(void*, uint32_t sampler, uint32_t type, uint32_t value) {
    note("setSamplerState", sampler, type, value);
    return 0;
}
int32_t setTexture(void*, uint32_t, void*) {
    return 0;
}
int32_t setTransform(void*, uint32_t state, const float* m) {
    note("setTransform", state, m[0], m[5], m[10], m[15]);
    return 0;
}
int32_t createVertexBuffer(void*, uint32_t length, uint32_t usage, uint32_t fvf, uint32_t pool,
                           void** vertexBuffer) {
    note("createVertexBuffer", length, usage, fvf, pool);
    *vertexBuffer = make(length);
    return 0;
}
int32_t setStreamSource(void*, uint32_t, void*, uint32_t, uint32_t) {
    return 0;
}
int32_t setFVF(void*, uint32_t) {
    return 0;
}
int32_t drawPrimitive(void*, uint32_t, uint32_t, uint32_t) {
    return 0;
}
int32_t updateTexture(void*, void*, void*) {
    return 0;
}
int32_t lockRect(void* texture, uint32_t, int32_t* pitch, void** bits, const int32_t*, uint32_t) {
    auto* o = static_cast<fake::Object*>(texture);
    *pitch = 256 * 4;
    *bits = o->memory.data();
    return 0;
}
int32_t unlockRect(void*, uint32_t) {
    return 0;
}
int32_t lockVertexBuffer(void* vertexBuffer, uint32_t offset, uint32_t, void** data, uint32_t) {
    *data = static_cast<fake::Object*>(vertexBuffer)->memory.data() + offset;
    return 0;
}
int32_t unlockVertexBuffer(void*) {
    return 0;
}

bool readBackBuffer(void*, std::vector<uint32_t>* pixels, int* width, int* height) {
    // Each frame's picture is its present count, so files can be told apart.
    pixels->assign(640 * 480, 0xFF000000u | uint32_t(current.presents));
    *width = 640;
    *height = 480;
    return true;
}

int32_t createTextureFromFile(void*, const char* path, void** texture) {
    note("createTextureFromFile", path);
    if (!std::ifstream(path).good()) {
        *texture = nullptr;
        return int32_t(0x88760B59u);
    }
    *texture = make();
    return 0;
}
int32_t createTexture(void*, uint32_t width, uint32_t height, uint32_t mipLevels, uint32_t usage,
                      uint32_t format, uint32_t pool, void** texture) {
    note("createTexture", width, height, mipLevels, usage, format, pool);
    *texture = make(size_t(width) * height * 4);
    return 0;
}
int32_t createLine(void*, void** line) {
    *line = make();
    return 0;
}
int32_t lineBegin(void*) {
    return 0;
}
int32_t lineDrawTransform(void*, const float*, uint32_t, const float*, uint32_t) {
    return 0;
}
int32_t lineEnd(void*) {
    return 0;
}
int32_t createFont(void*, int32_t height, uint32_t, uint32_t weight, uint32_t, int32_t, uint32_t,
                   uint32_t, uint32_t, uint32_t, const char* faceName, void** font) {
    note("createFont", height, weight, faceName);
    *font = make();
    return 0;
}
int32_t drawText(void*, const char* text, int32_t, int32_t*, uint32_t, uint32_t) {
    note("drawText", text);
    return 18;
}

void setMessageHandler(MessageHandler handler) {
    current.handler = handler;
}

uint16_t registerClass(const WindowClass& windowClass) {
    note("registerClass", windowClass.className, windowClass.style);
    if (fake::classes.count(windowClass.className) != 0) return 0;
    const uint16_t atom = uint16_t(0xC000 + fake::classes.size());
    fake::classes[windowClass.className] = atom;
    return atom;
}

void* createWindow(uint32_t exStyle, const char* className, const char* windowName, uint32_t style,
                   int32_t, int32_t, int32_t width, int32_t height, void*, void*, void*, void*) {
    note("createWindow", exStyle, className, windowName, style, width, height);
    auto found = fake::classes.find(className);
    if (found == fake::classes.end()) return nullptr;
    void* window = reinterpret_cast<void*>(fake::nextWindow += 0x10);
    fake::windows[window] = found->second;
    return window;
}

int32_t showWindow(void*, int32_t) {
    return 0;
}
int32_t updateWindow(void*) {
    return 1;
}
int32_t destroyWindow(void* window) {
    note("destroyWindow");
    auto found = fake::windows.find(window);
    if (found == fake::windows.end()) return 0;
    if (current.handler != nullptr) current.handler(window, found->second, fake::kDestroy, 0, 0);
    fake::windows.erase(found);
    return 1;
}
void* loadCursor(void*, const char*) {
    return reinterpret_cast<void*>(uintptr_t(0x55));
}
intptr_t defWindowProc(void*, uint32_t, uintptr_t, intptr_t) {
    return 0;
}
void postQuitMessage(int32_t exitCode) {
    note("postQuitMessage", exitCode);
    Message quit{};
    quit.message = fake::kQuit;
    current.queue.push_back(quit);
}

int32_t peekMessage(Message* message, void*, uint32_t, uint32_t, uint32_t removeFlags) {
    if (current.escapeAtPeek != 0 && ++current.peeks == current.escapeAtPeek &&
        !fake::windows.empty()) {
        Message key{};
        key.window = fake::windows.begin()->first;
        key.message = fake::kKeyDown;
        key.wParam = 0x1B;
        current.queue.push_back(key);
    }
    if (current.queue.empty()) return 0;
    *message = current.queue.front();
    if (removeFlags & 1) current.queue.pop_front();
    return 1;
}
int32_t getMessage(Message* message, void*, uint32_t, uint32_t) {
    if (current.queue.empty()) return -1;
    *message = current.queue.front();
    current.queue.pop_front();
    return message->message == fake::kQuit ? 0 : 1;
}
int32_t translateMessage(const Message&) {
    return 0;
}
intptr_t dispatchMessage(const Message& message) {
    auto found = fake::windows.find(message.window);
    if (found == fake::windows.end() || current.handler == nullptr) return 0;
    return current.handler(message.window, found->second, message.message, message.wParam,
                           message.lParam);
}

int32_t messageBox(void*, const char* text, const char* caption, uint32_t) {
    ++current.messageBoxes;
    note("messageBox", caption, text);
    return 1;
}
void* setCursor(void* cursor) {
    return cursor;
}
int32_t showCursor(int32_t show) {
    return show ? 0 : -1;
}
int32_t getCursorPos(int32_t* x, int32_t* y) {
    *x = 320;
    *y = 240;
    return 1;
}
int32_t screenToClient(void*, int32_t*, int32_t*) {
    return 1;
}
uint32_t getTickCount() {
    const uint32_t now = current.tick;
    current.tick += current.tickStep;
    return now;
}
void* getForegroundWindow() {
    return fake::windows.empty() ? nullptr : fake::windows.begin()->first;
}
void* getModuleHandle(const char*) {
    return reinterpret_cast<void*>(uintptr_t(0x400000));
}

int32_t directInput8Create(void*, uint32_t version, void** directInput) {
    note("directInput8Create", version);
    *directInput = make();
    return 0;
}
int32_t createInputDevice(void*, const void* guid, void** device) {
    uint32_t first = 0;
    std::memcpy(&first, guid, sizeof first);
    note("createInputDevice", first);
    *device = make();
    return 0;
}
int32_t setDataFormat(void*, uint32_t dataSize) {
    note("setDataFormat", dataSize);
    return 0;
}
int32_t setCooperativeLevel(void*, void*, uint32_t flags) {
    note("setCooperativeLevel", flags);
    return 0;
}
int32_t acquire(void*) {
    return 0;
}
int32_t unacquire(void*) {
    return 0;
}
int32_t getDeviceState(void*, uint32_t size, void* data) {
    std::memset(data, 0, size);
    // A key held on the desktop: only a run that is not capturing may see it.
    if (size == 256 && current.heldKey >= 0) static_cast<uint8_t*>(data)[current.heldKey] = 0x80;
    return 0;
}

void attachParentConsole() {}
std::vector<std::string> commandLineArguments() {
    return {};
}
std::string programFolder() {
    return ".";
}
std::string currentDirectory() {
    return ".";
}
bool changeDirectory(const std::string&) {
    return true;
}
bool isDirectory(const std::string&) {
    return true;
}
bool makeDirectory(const std::string&) {
    return true;
}
bool directoryIsEmpty(const std::string&) {
    return true;
}

}  // namespace native

// ---- the music player: the file is read and scanned, playback is only counted ----

struct MusicPlayer::Impl {
    Mp3Stream stream;
    bool opened = false;
};

MusicPlayer::MusicPlayer() : impl_(new Impl) {}
MusicPlayer::~MusicPlayer() = default;

bool MusicPlayer::open(const std::string& path, bool /*decode*/, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (!in.good() && bytes.empty()) {
        if (error != nullptr) *error = "cannot read " + path;
        return false;
    }
    impl_->opened = scanMp3(bytes.data(), bytes.size(), &impl_->stream);
    return impl_->opened;
}

const Mp3Stream& MusicPlayer::stream() const {
    return impl_->stream;
}
bool MusicPlayer::decoded() const {
    return false;
}
void MusicPlayer::onEnd(EndHandler, void*) {}
bool MusicPlayer::play(bool loop) {
    ++current.musicPlays;
    current.musicLooping = loop;
    return impl_->opened;
}
bool MusicPlayer::audible() const {
    return false;
}
void MusicPlayer::stop() {}
