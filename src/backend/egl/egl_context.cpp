#include "backend/egl/egl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>
#include <string>

namespace {

bool hasExtension(const char* list, const char* name) {
    if (list == nullptr) return false;
    const size_t length = std::strlen(name);
    for (const char* at = list; (at = std::strstr(at, name)) != nullptr; at += length) {
        const bool starts = at == list || at[-1] == ' ';
        const bool ends = at[length] == ' ' || at[length] == '\0';
        if (starts && ends) return true;
    }
    return false;
}

std::string eglErrorText(const char* what) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (EGL error 0x%04X)", what,
                  static_cast<unsigned>(eglGetError()));
    return text;
}

// The first display that initializes: Mesa's surfaceless platform needs no window system, a
// GPU's device platform none either; the default display is the last resort.
EGLDisplay openDisplay(std::string* error) {
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    EGLint major = 0, minor = 0;
    if (getPlatformDisplay != nullptr && hasExtension(client, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display =
            getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
    }
    if (getPlatformDisplay != nullptr && hasExtension(client, "EGL_EXT_platform_device")) {
        auto queryDevices =
            reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
        EGLDeviceEXT devices[8];
        EGLint count = 0;
        if (queryDevices != nullptr && queryDevices(8, devices, &count)) {
            for (EGLint i = 0; i < count; ++i) {
                EGLDisplay display =
                    getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor))
                    return display;
            }
        }
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) return display;
    *error = client == nullptr ? "no EGL library answers" : eglErrorText("opening an EGL display");
    return EGL_NO_DISPLAY;
}

}  // namespace

struct EglContext::Handles {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    ~Handles() {
        if (display == EGL_NO_DISPLAY) return;
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
        eglTerminate(display);
    }
};

std::unique_ptr<EglContext> EglContext::create(std::string* error) {
    auto handles = std::make_unique<Handles>();
    std::string reason;
    handles->display = openDisplay(&reason);
    if (handles->display == EGL_NO_DISPLAY) {
        *error = reason;
        return nullptr;
    }
    if (!hasExtension(eglQueryString(handles->display, EGL_EXTENSIONS),
                      "EGL_KHR_surfaceless_context")) {
        *error = "the EGL display cannot draw without a surface (no EGL_KHR_surfaceless_context)";
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_ES_API)) {
        *error = eglErrorText("choosing OpenGL ES");
        return nullptr;
    }
    // Any surface type: the frames go to framebuffer objects only.
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_ES3_BIT, EGL_SURFACE_TYPE, 0,
                                       EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglChooseConfig(handles->display, configAttributes, &config, 1, &configs) || configs < 1) {
        *error = "the EGL display offers no OpenGL ES 3 configuration";
        return nullptr;
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0,
                                        EGL_NONE};
    handles->context =
        eglCreateContext(handles->display, config, EGL_NO_CONTEXT, contextAttributes);
    if (handles->context == EGL_NO_CONTEXT) {
        *error = eglErrorText("creating an OpenGL ES 3 context");
        return nullptr;
    }
    if (!eglMakeCurrent(handles->display, EGL_NO_SURFACE, EGL_NO_SURFACE, handles->context)) {
        *error = eglErrorText("making the OpenGL ES context current");
        return nullptr;
    }
    std::unique_ptr<EglContext> made(new EglContext());
    made->handles_ = std::move(handles);
    return made;
}

EglContext::~EglContext() = default;
