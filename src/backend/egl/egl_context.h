#pragma once
// An OpenGL ES 3 context without any window, for drawing frames that are only read back: EGL on
// Mesa's surfaceless platform, on a GPU's device platform, or on the default display, whichever
// the EGL library offers first.
#include <memory>
#include <string>

class EglContext {
  public:
    // A context made current on the calling thread, or null with a one-line reason in *error.
    static std::unique_ptr<EglContext> create(std::string* error);
    ~EglContext();
    EglContext(const EglContext&) = delete;
    EglContext& operator=(const EglContext&) = delete;

  private:
    EglContext() = default;
    struct Handles;
    std::unique_ptr<Handles> handles_;
};
