// USER32 and KERNEL32: the window, its message queue, message boxes, the cursor and the clock.
// windows.h comes first: the other platform headers build on it.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <cwchar>

#include "backend/win32/native.h"

namespace native {

namespace {

MessageHandler handler = nullptr;

// The platform calls this with its own calling convention; the show's procedure is reached
// through the handler with the window's class, so each class keeps its own procedure.
LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (handler == nullptr) return DefWindowProcA(window, message, wParam, lParam);
    const ATOM atom = static_cast<ATOM>(GetClassWord(window, GCW_ATOM));
    return handler(window, atom, message, wParam, lParam);
}

void toMessage(const MSG& in, Message* out) {
    out->window = in.hwnd;
    out->message = in.message;
    out->wParam = in.wParam;
    out->lParam = in.lParam;
    out->time = in.time;
    out->x = in.pt.x;
    out->y = in.pt.y;
}

MSG fromMessage(const Message& in) {
    MSG out{};
    out.hwnd = static_cast<HWND>(in.window);
    out.message = in.message;
    out.wParam = in.wParam;
    out.lParam = in.lParam;
    out.time = in.time;
    out.pt.x = in.x;
    out.pt.y = in.y;
    return out;
}

std::string toUtf8(const wchar_t* text) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return std::string();
    std::string out(size_t(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], bytes, nullptr, nullptr);
    out.resize(size_t(bytes - 1));
    return out;
}

std::wstring toWide(const std::string& text) {
    int chars = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    if (chars <= 1) return std::wstring();
    std::wstring out(size_t(chars), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], chars);
    out.resize(size_t(chars - 1));
    return out;
}

}  // namespace

void setMessageHandler(MessageHandler newHandler) {
    handler = newHandler;
}

uint16_t registerClass(const WindowClass& windowClass) {
    WNDCLASSEXA c{};
    c.cbSize = sizeof c;
    c.style = windowClass.style;
    c.lpfnWndProc = windowProcedure;
    c.cbClsExtra = windowClass.classExtra;
    c.cbWndExtra = windowClass.windowExtra;
    c.hInstance = static_cast<HINSTANCE>(windowClass.instance);
    c.hIcon = static_cast<HICON>(windowClass.icon);
    c.hCursor = static_cast<HCURSOR>(windowClass.cursor);
    c.hbrBackground = static_cast<HBRUSH>(windowClass.background);
    c.lpszMenuName = windowClass.menuName;
    c.lpszClassName = windowClass.className;
    c.hIconSm = static_cast<HICON>(windowClass.smallIcon);
    return RegisterClassExA(&c);
}

void* createWindow(uint32_t exStyle, const char* className, const char* windowName, uint32_t style,
                   int32_t x, int32_t y, int32_t width, int32_t height, void* parent, void* menu,
                   void* instance, void* param) {
    return CreateWindowExA(exStyle, className, windowName, style, x, y, width, height,
                           static_cast<HWND>(parent), static_cast<HMENU>(menu),
                           static_cast<HINSTANCE>(instance), param);
}

int32_t showWindow(void* window, int32_t showCommand) {
    return ShowWindow(static_cast<HWND>(window), showCommand);
}

int32_t updateWindow(void* window) {
    return UpdateWindow(static_cast<HWND>(window));
}

int32_t destroyWindow(void* window) {
    return DestroyWindow(static_cast<HWND>(window));
}

void* loadCursor(void* instance, const char* name) {
    return LoadCursorA(static_cast<HINSTANCE>(instance), name);
}

intptr_t defWindowProc(void* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    return DefWindowProcA(static_cast<HWND>(window), message, wParam, lParam);
}

void postQuitMessage(int32_t exitCode) {
    PostQuitMessage(exitCode);
}

int32_t peekMessage(Message* message, void* window, uint32_t filterMin, uint32_t filterMax,
                    uint32_t removeFlags) {
    MSG m{};
    BOOL result = PeekMessageA(&m, static_cast<HWND>(window), filterMin, filterMax, removeFlags);
    if (result) toMessage(m, message);
    return result;
}

int32_t getMessage(Message* message, void* window, uint32_t filterMin, uint32_t filterMax) {
    MSG m{};
    BOOL result = GetMessageA(&m, static_cast<HWND>(window), filterMin, filterMax);
    if (result != -1) toMessage(m, message);
    return result;
}

int32_t translateMessage(const Message& message) {
    MSG m = fromMessage(message);
    return TranslateMessage(&m);
}

intptr_t dispatchMessage(const Message& message) {
    MSG m = fromMessage(message);
    return DispatchMessageA(&m);
}

int32_t messageBox(void* owner, const char* text, const char* caption, uint32_t type) {
    return MessageBoxA(static_cast<HWND>(owner), text, caption, type);
}

void* setCursor(void* cursor) {
    return SetCursor(static_cast<HCURSOR>(cursor));
}

int32_t showCursor(int32_t show) {
    return ShowCursor(show);
}

int32_t getCursorPos(int32_t* x, int32_t* y) {
    POINT p{};
    BOOL result = GetCursorPos(&p);
    *x = p.x;
    *y = p.y;
    return result;
}

int32_t screenToClient(void* window, int32_t* x, int32_t* y) {
    POINT p{*x, *y};
    BOOL result = ScreenToClient(static_cast<HWND>(window), &p);
    *x = p.x;
    *y = p.y;
    return result;
}

uint32_t getTickCount() {
    return GetTickCount();
}

void* getForegroundWindow() {
    return GetForegroundWindow();
}

void* getModuleHandle(const char* moduleName) {
    return GetModuleHandleA(moduleName);
}

void attachParentConsole() {
    auto missing = [](DWORD which) {
        HANDLE h = GetStdHandle(which);
        return h == nullptr || h == INVALID_HANDLE_VALUE;
    };
    if (!missing(STD_OUTPUT_HANDLE) && !missing(STD_ERROR_HANDLE)) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (missing(STD_OUTPUT_HANDLE) ||
        GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_UNKNOWN)
        std::freopen("CONOUT$", "w", stdout);
    if (missing(STD_ERROR_HANDLE) ||
        GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_UNKNOWN)
        std::freopen("CONOUT$", "w", stderr);
}

std::vector<std::string> commandLineArguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(toUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

std::string programFolder() {
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return ".";
    std::string s = toUtf8(path);
    size_t slash = s.find_last_of("\\/");
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

std::string currentDirectory() {
    wchar_t path[MAX_PATH];
    DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    if (length == 0 || length >= MAX_PATH) return ".";
    return toUtf8(path);
}

bool changeDirectory(const std::string& path) {
    return SetCurrentDirectoryW(toWide(path).c_str()) != 0;
}

bool isDirectory(const std::string& path) {
    DWORD attributes = GetFileAttributesW(toWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool makeDirectory(const std::string& path) {
    return CreateDirectoryW(toWide(path).c_str(), nullptr) != 0 ||
           GetLastError() == ERROR_ALREADY_EXISTS;
}

bool directoryIsEmpty(const std::string& path) {
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(toWide(path + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return true;
    bool empty = true;
    do {
        const bool dots =
            std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0;
        if (!dots) empty = false;
    } while (empty && FindNextFileW(search, &entry));
    FindClose(search);
    return empty;
}

}  // namespace native
