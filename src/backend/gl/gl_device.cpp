#include "backend/gl/gl_device.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "backend/emulated/device_constants.h"
#include "backend/frame_sink.h"

using namespace emulated;

namespace {

// Just under half a pixel (see gl_device.h).
constexpr float kCentreShift = 63.0f / 128.0f;

// ---- the fixed-function stages as a shader ----

enum StageOp : uint32_t { kSelect1 = 0, kSelect2, kModulate, kModulate2x, kModulate4x, kAdd };
enum StageArg : uint32_t { kDiffuse = 0, kCurrent, kTexel, kFactor };

StageOp stageOp(DWORD op) {
    switch (op) {
        case kTopSelectArg2:
            return kSelect2;
        case D3DTOP_MODULATE:
            return kModulate;
        case D3DTOP_MODULATE2X:
            return kModulate2x;
        case D3DTOP_MODULATE4X:
            return kModulate4x;
        case kTopAdd:
            return kAdd;
        default:
            return kSelect1;
    }
}

StageArg stageArg(DWORD arg, int stage) {
    switch (arg & kTaSelectMask) {
        case D3DTA_CURRENT:
            return stage == 0 ? kDiffuse : kCurrent;
        case D3DTA_TEXTURE:
            return kTexel;
        case kTaTFactor:
            return kFactor;
        default:
            return kDiffuse;
    }
}

struct Stage {
    StageOp colourOp = kSelect1;
    StageArg colour1 = kDiffuse;
    StageArg colour2 = kDiffuse;
    StageOp alphaOp = kSelect1;
    StageArg alpha1 = kDiffuse;
    StageArg alpha2 = kDiffuse;
    bool textured = false;
    bool opaque = false;
};

bool reads(StageOp op, StageArg a1, StageArg a2, StageArg what) {
    return (op != kSelect2 && a1 == what) || (op != kSelect1 && a2 == what);
}

uint32_t stageBits(const Stage& s) {
    return s.colourOp | s.colour1 << 3 | s.colour2 << 5 | s.alphaOp << 7 | s.alpha1 << 10 |
           s.alpha2 << 12 | uint32_t(s.textured) << 14 | uint32_t(s.opaque) << 15;
}

Stage stageFromBits(uint32_t b) {
    Stage s;
    s.colourOp = StageOp(b & 7);
    s.colour1 = StageArg((b >> 3) & 3);
    s.colour2 = StageArg((b >> 5) & 3);
    s.alphaOp = StageOp((b >> 7) & 7);
    s.alpha1 = StageArg((b >> 10) & 3);
    s.alpha2 = StageArg((b >> 12) & 3);
    s.textured = (b >> 14) & 1;
    s.opaque = (b >> 15) & 1;
    return s;
}

const char* argName(StageArg a) {
    switch (a) {
        case kDiffuse:
            return "diffuse";
        case kCurrent:
            return "current";
        case kTexel:
            return "texel";
        default:
            return "uFactor";
    }
}

std::string opExpression(StageOp op, StageArg a1, StageArg a2) {
    const std::string x = argName(a1), y = argName(a2);
    switch (op) {
        case kSelect1:
            return x;
        case kSelect2:
            return y;
        case kModulate:
            return "product(" + x + ", " + y + ", 1.0)";
        case kModulate2x:
            return "product(" + x + ", " + y + ", 2.0)";
        case kModulate4x:
            return "product(" + x + ", " + y + ", 4.0)";
        default:
            return "min(" + x + " + " + y + ", 255.0)";
    }
}

// Program kinds besides the stage programs (whose key is 1 + the stage bits).
constexpr uint64_t kPointsProgram = 0;
constexpr uint64_t kGlyphProgram = uint64_t{1} << 40;
constexpr uint64_t kFrameProgram = uint64_t{2} << 40;

const char* const kVertexShader = R"(#version 300 es
layout(location = 0) in vec4 aClip;
layout(location = 1) in vec4 aColour;
layout(location = 2) in vec4 aUv;
uniform vec2 uShift;
out vec4 vColour;
out vec4 vUv;
void main() {
    vColour = aColour;
    vUv = aUv;
    gl_Position = vec4(aClip.x + uShift.x * aClip.w, -aClip.y + uShift.y * aClip.w,
                       2.0 * aClip.z - aClip.w, aClip.w);
    gl_PointSize = 1.0;
}
)";

// A whole-target quad from the vertex number alone, texture rows top first.
const char* const kFrameVertexShader = R"(#version 300 es
out vec2 vUv;
void main() {
    vec2 p = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1));
    vUv = vec2(p.x, 1.0 - p.y);
    gl_Position = vec4(p * 2.0 - 1.0, 0.0, 1.0);
}
)";

const char* const kFragmentHead = R"(#version 300 es
precision highp float;
in vec4 vColour;
in vec4 vUv;
uniform highp sampler2D uTex0;
uniform highp sampler2D uTex1;
uniform vec4 uFactor;
out vec4 fragColour;
// 8-bit values as the CPU renderer computes them: a product of two divided by 255 to nearest,
// saturating.
vec4 product(vec4 a, vec4 b, float k) {
    return floor(min(a * b * k, 65025.0) / 255.0 + 0.5);
}
vec4 bytes(vec4 v) {
    return floor(clamp(v, 0.0, 1.0) * 255.0 + 0.5);
}
)";

std::string stageFragmentShader(uint64_t key) {
    const int stages = int((key >> 32) & 3);
    std::string s = kFragmentHead;
    // OpenGL evaluates the attributes 1/128 pixel right of and below the platform's pixel
    // centre (gl_device.h); across a triangle they change linearly, so their slopes take them
    // back to the centre itself.
    s += "void main() {\n";
    s += "    vec4 uv = vUv - (dFdx(vUv) + dFdy(vUv)) * (1.0 / 128.0);\n";
    s += "    vec4 diffuse = bytes(vColour - (dFdx(vColour) + dFdy(vColour)) * (1.0 / 128.0));\n";
    s += "    vec4 current = diffuse;\n";
    s += "    vec4 texel;\n";
    for (int i = 0; i < stages; ++i) {
        const Stage st = stageFromBits(uint32_t(key >> (16 * i)) & 0xFFFF);
        if (st.textured) {
            s += "    texel = bytes(texture(uTex" + std::to_string(i) + ", uv." +
                 (i == 0 ? "xy" : "zw") + "));\n";
            if (st.opaque) s += "    texel.a = 255.0;\n";
        }
        s += "    current = vec4((" + opExpression(st.colourOp, st.colour1, st.colour2) +
             ").rgb, (" + opExpression(st.alphaOp, st.alpha1, st.alpha2) + ").a);\n";
    }
    s += "    fragColour = current / 255.0;\n}\n";
    return s;
}

const char* const kPointsFragmentShader = R"(#version 300 es
precision highp float;
in vec4 vColour;
out vec4 fragColour;
void main() {
    fragColour = vColour;
}
)";

// The CPU renderer's text: coverage times the colour's alpha, divided by 255 rounding down.
const char* const kGlyphFragmentShader = R"(#version 300 es
precision highp float;
in vec4 vUv;
uniform highp sampler2D uTex0;
uniform vec4 uFactor;
out vec4 fragColour;
void main() {
    float coverage = floor(texture(uTex0, vUv.xy).r * 255.0 + 0.5);
    float alpha = floor((uFactor.a * coverage + 127.0) / 255.0);
    fragColour = vec4(uFactor.rgb, alpha) / 255.0;
}
)";

// The finished frame into a window: red and blue back in their places, alpha opaque.
const char* const kFrameFragmentShader = R"(#version 300 es
precision mediump float;
in vec2 vUv;
uniform highp sampler2D uTex0;
out vec4 fragColour;
void main() {
    fragColour = vec4(texture(uTex0, vUv).bgr, 1.0);
}
)";

GLuint compile(GLenum type, const std::string& source, std::string* error) {
    GLuint shader = glCreateShader(type);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024] = {};
        glGetShaderInfoLog(shader, sizeof log, nullptr, log);
        *error = std::string("shader does not compile: ") + log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GLenum blendFactor(DWORD factor) {
    switch (factor) {
        case kBlendFactorZero:
            return GL_ZERO;
        case D3DBLEND_SRCCOLOR:
            return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR:
            return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA:
            return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA:
            return GL_ONE_MINUS_SRC_ALPHA;
        case kBlendFactorDestAlpha:
            return GL_DST_ALPHA;
        case kBlendFactorInvDestAlpha:
            return GL_ONE_MINUS_DST_ALPHA;
        case kBlendFactorDestColor:
            return GL_DST_COLOR;
        case kBlendFactorInvDestColor:
            return GL_ONE_MINUS_DST_COLOR;
        default:
            return GL_ONE;
    }
}

GLenum depthFunction(DWORD func) {
    switch (func) {
        case D3DCMP_NEVER:
            return GL_NEVER;
        case D3DCMP_LESS:
            return GL_LESS;
        case D3DCMP_EQUAL:
            return GL_EQUAL;
        case D3DCMP_LESSEQUAL:
            return GL_LEQUAL;
        case D3DCMP_GREATER:
            return GL_GREATER;
        case D3DCMP_NOTEQUAL:
            return GL_NOTEQUAL;
        case D3DCMP_GREATEREQUAL:
            return GL_GEQUAL;
        default:
            return GL_ALWAYS;
    }
}

bool isLinear(DWORD filter) {
    return filter == D3DTEXF_LINEAR || filter == kTexfAnisotropic;
}

// The four bytes of a colour in the order the pixels keep them (blue, green, red, alpha), as
// 0..255 values.
void colourBytes(D3DCOLOR c, float out[4]) {
    out[0] = float(c & 0xFF);
    out[1] = float((c >> 8) & 0xFF);
    out[2] = float((c >> 16) & 0xFF);
    out[3] = float(c >> 24);
}

}  // namespace

GLuint makeTexture(GLenum format, int width, int height, GLint filter) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexStorage2D(GL_TEXTURE_2D, 1, format, width, height);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    return name;
}

// ---- programs ----

struct GlDevice::Programs {
    struct Program {
        GLuint name = 0;
        GLint shift = -1;
        GLint factor = -1;
    };
    std::map<uint64_t, Program> made;
    GLuint vertexShader = 0;
    GLuint frameVertexShader = 0;
    std::string error;

    ~Programs() {
        for (auto& entry : made) glDeleteProgram(entry.second.name);
        if (vertexShader) glDeleteShader(vertexShader);
        if (frameVertexShader) glDeleteShader(frameVertexShader);
    }

    // The program for a key, made on first use; name 0 when it cannot be made.
    const Program& get(uint64_t key) {
        auto found = made.find(key);
        if (found != made.end()) return found->second;
        Program& p = made[key];
        std::string source;
        GLuint vertex = vertexShader;
        if (key == kPointsProgram) {
            source = kPointsFragmentShader;
        } else if (key == kGlyphProgram) {
            source = kGlyphFragmentShader;
        } else if (key == kFrameProgram) {
            source = kFrameFragmentShader;
            vertex = frameVertexShader;
        } else {
            source = stageFragmentShader(key - 1);
        }
        std::string why;
        GLuint fragment = compile(GL_FRAGMENT_SHADER, source, &why);
        if (fragment == 0 || vertex == 0) {
            if (error.empty()) error = why;
            return p;
        }
        GLuint program = glCreateProgram();
        glAttachShader(program, vertex);
        glAttachShader(program, fragment);
        glLinkProgram(program);
        glDeleteShader(fragment);
        GLint ok = 0;
        glGetProgramiv(program, GL_LINK_STATUS, &ok);
        if (!ok) {
            char log[1024] = {};
            glGetProgramInfoLog(program, sizeof log, nullptr, log);
            if (error.empty()) error = std::string("shaders do not link: ") + log;
            glDeleteProgram(program);
            return p;
        }
        glUseProgram(program);
        glUniform1i(glGetUniformLocation(program, "uTex0"), 0);
        glUniform1i(glGetUniformLocation(program, "uTex1"), 1);
        p.name = program;
        p.shift = glGetUniformLocation(program, "uShift");
        p.factor = glGetUniformLocation(program, "uFactor");
        return p;
    }
};

// Consecutive draws under the same states, as triangles.
struct GlDevice::Batch {
    struct State {
        uint64_t program = 0;
        GLuint texture[2] = {};
        GLint minFilter[2] = {};
        GLint magFilter[2] = {};
        GLint wrapS[2] = {};
        GLint wrapT[2] = {};
        D3DCOLOR factor = 0;
        bool blend = false;
        GLenum source = GL_ONE;
        GLenum destination = GL_ZERO;
        DWORD cull = D3DCULL_NONE;
        bool depthTest = false;
        bool depthWrite = false;
        GLenum depthFunc = GL_LEQUAL;

        bool operator==(const State& o) const {
            return program == o.program && std::equal(texture, texture + 2, o.texture) &&
                   std::equal(minFilter, minFilter + 2, o.minFilter) &&
                   std::equal(magFilter, magFilter + 2, o.magFilter) &&
                   std::equal(wrapS, wrapS + 2, o.wrapS) && std::equal(wrapT, wrapT + 2, o.wrapT) &&
                   factor == o.factor && blend == o.blend && source == o.source &&
                   destination == o.destination && cull == o.cull && depthTest == o.depthTest &&
                   depthWrite == o.depthWrite && depthFunc == o.depthFunc;
        }
    };
    State state;
    std::vector<GlVertex> vertices;
};

// ---- textures ----

GlTexture::~GlTexture() {
    if (name_ != 0) glDeleteTextures(1, &name_);
}

void GlTexture::texelsChanging() {
    // Draws batched before the change sample the texels as they were.
    if (name_ != 0 && device_ != nullptr) device_->flush();
}

GLuint GlTexture::name() {
    if (pool() == D3DPOOL_SYSTEMMEM) return 0;
    if (name_ == 0) {
        glGenTextures(1, &name_);
        glBindTexture(GL_TEXTURE_2D, name_);
        // One level, allocated once: later changes (the video's every frame) only replace texels.
        glTexStorage2D(GL_TEXTURE_2D, 1, GL_RGBA8, GLsizei(width()), GLsizei(height()));
        stale_ = true;
    }
    if (stale_) {
        glBindTexture(GL_TEXTURE_2D, name_);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        // The texels' bytes are B, G, R, A: stored as they are, red and blue trade places, as
        // everywhere in this renderer.
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, GLsizei(width()), GLsizei(height()), GL_RGBA,
                        GL_UNSIGNED_BYTE, texels().data());
        stale_ = false;
    }
    return name_;
}

// ---- device ----

GlDevice::GlDevice(GlContext& context, const D3DPRESENT_PARAMETERS& parameters)
    : EmulatedDevice(context.objects, parameters),
      context_(context),
      wantedWidth_(width_ * context.scale),
      wantedHeight_(height_ * context.scale),
      programs_(std::make_unique<Programs>()),
      batch_(std::make_unique<Batch>()) {}

GlDevice::~GlDevice() {
    programs_.reset();
    if (framebuffer_) glDeleteFramebuffers(1, &framebuffer_);
    if (colour_) glDeleteTextures(1, &colour_);
    if (depth_) glDeleteRenderbuffers(1, &depth_);
    if (vertexArray_) glDeleteVertexArrays(1, &vertexArray_);
    if (vertexBuffer_) glDeleteBuffers(1, &vertexBuffer_);
    glDeleteSamplers(2, samplers_);
    glDeleteBuffers(2, packBuffers_);
}

bool GlDevice::start(std::string* error) {
    glGenVertexArrays(1, &vertexArray_);
    glBindVertexArray(vertexArray_);
    glGenBuffers(1, &vertexBuffer_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glEnableVertexAttribArray(0);
    glEnableVertexAttribArray(1);
    glEnableVertexAttribArray(2);
    glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, sizeof(GlVertex),
                          reinterpret_cast<void*>(offsetof(GlVertex, clip)));
    // The colour's bytes as stored (blue first) land in red: the swapped order of this renderer.
    glVertexAttribPointer(1, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(GlVertex),
                          reinterpret_cast<void*>(offsetof(GlVertex, colour)));
    glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, sizeof(GlVertex),
                          reinterpret_cast<void*>(offsetof(GlVertex, uv)));
    glGenSamplers(2, samplers_);
    glGenBuffers(2, packBuffers_);
    programs_->vertexShader = compile(GL_VERTEX_SHADER, kVertexShader, error);
    if (programs_->vertexShader == 0) return false;
    programs_->frameVertexShader = compile(GL_VERTEX_SHADER, kFrameVertexShader, error);
    if (programs_->frameVertexShader == 0) return false;
    // The programs every frame needs are made now, so that a driver that cannot build them fails
    // here and not in the middle of the show.
    for (uint64_t key : {kPointsProgram, kGlyphProgram, kFrameProgram}) {
        if (programs_->get(key).name == 0) {
            *error = programs_->error;
            return false;
        }
    }
    resizeTarget();
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        *error = "the drawing target cannot be made (framebuffer incomplete)";
        return false;
    }
    if (glGetError() != GL_NO_ERROR) {
        *error = "the GPU objects cannot be made";
        return false;
    }
    return true;
}

void GlDevice::resizeTarget() {
    if (wantedWidth_ == targetWidth_ && wantedHeight_ == targetHeight_ && framebuffer_ != 0) return;
    targetWidth_ = std::max(1, wantedWidth_);
    targetHeight_ = std::max(1, wantedHeight_);
    if (colour_) glDeleteTextures(1, &colour_);
    if (depth_) glDeleteRenderbuffers(1, &depth_);
    depth_ = 0;
    if (framebuffer_ == 0) glGenFramebuffers(1, &framebuffer_);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    colour_ = makeTexture(GL_RGBA8, targetWidth_, targetHeight_, GL_LINEAR);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, colour_, 0);
    if (depthBuffer_) {
        glGenRenderbuffers(1, &depth_);
        glBindRenderbuffer(GL_RENDERBUFFER, depth_);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, targetWidth_, targetHeight_);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                                  depth_);
    }
    glViewport(0, 0, targetWidth_, targetHeight_);
}

void GlDevice::setTargetSize(int width, int height) {
    wantedWidth_ = width;
    wantedHeight_ = height;
}

bool GlDevice::rasterizing() const {
    return context_.rasterizing;
}

HRESULT GlDevice::Clear(DWORD flags, D3DCOLOR color, float z, DWORD /*stencil*/) {
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) != 0 && !depthBuffer_) {
        return D3DERR_INVALIDCALL;
    }
    if (!context_.rasterizing) return S_OK;
    flush();
    resizeTarget();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, targetWidth_, targetHeight_);
    GLbitfield mask = 0;
    if (flags & D3DCLEAR_TARGET) {
        float c[4];
        colourBytes(color, c);
        glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
        glClearColor(c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, c[3] / 255.0f);
        mask |= GL_COLOR_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_ZBUFFER) {
        glDepthMask(GL_TRUE);
        glClearDepthf(z);
        mask |= GL_DEPTH_BUFFER_BIT;
    }
    if (flags & D3DCLEAR_STENCIL) mask |= GL_STENCIL_BUFFER_BIT;
    if (mask != 0) glClear(mask);
    return S_OK;
}

HRESULT GlDevice::Present() {
    if (!context_.rasterizing) return S_OK;
    flush();
    readBack();
    if (context_.presented) context_.presented(*this);
    return S_OK;
}

void GlDevice::readBack() {
    const uint64_t frame = context_.sink != nullptr ? context_.sink->presentingFrame() : 0;
    const int next = packIndex_ ^ 1;
    if (frame != 0) {
        // Into a pixel-pack buffer: the copy runs on while the show prepares the next frame, and
        // the pixels are handed over at the next Present (or by finishFrames).
        const GLsizeiptr size = GLsizeiptr(targetWidth_) * targetHeight_ * 4;
        glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, packBuffers_[next]);
        glBufferData(GL_PIXEL_PACK_BUFFER, size, nullptr, GL_STREAM_READ);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, targetWidth_, targetHeight_, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    }
    finishFrames();
    if (frame != 0) {
        pendingFrame_ = frame;
        pendingWidth_ = targetWidth_;
        pendingHeight_ = targetHeight_;
        packIndex_ = next;
    }
}

void GlDevice::finishFrames() {
    if (pendingFrame_ == 0) return;
    const uint64_t frame = pendingFrame_;
    pendingFrame_ = 0;
    const GLsizeiptr size = GLsizeiptr(pendingWidth_) * pendingHeight_ * 4;
    glBindBuffer(GL_PIXEL_PACK_BUFFER, packBuffers_[packIndex_]);
    // (WebGL 2 has no mapping: there the buffer is read with getBufferSubData instead.)
    const void* mapped = glMapBufferRange(GL_PIXEL_PACK_BUFFER, 0, size, GL_MAP_READ_BIT);
    if (mapped != nullptr && context_.sink != nullptr) {
        // Rows come back from the bottom of the target, which holds the picture's top row.
        context_.sink->presentLateFrame(frame, static_cast<const uint32_t*>(mapped), pendingWidth_,
                                        pendingHeight_);
    }
    if (mapped != nullptr) glUnmapBuffer(GL_PIXEL_PACK_BUFFER);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
}

void GlDevice::drawFrameTo(int x, int y, int width, int height) {
    const auto& program = programs_->get(kFrameProgram);
    if (program.name == 0) return;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(x, y, width, height);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glUseProgram(program.name);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, colour_);
    glBindSampler(0, 0);
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, targetWidth_, targetHeight_);
}

HRESULT GlDevice::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    const HRESULT checked = checkDraw(type);
    if (FAILED(checked) || primitiveCount == 0) return checked;
    uint64_t vertices = 0, first = 0;
    if (!drawVertices(type, startVertex, primitiveCount, &vertices, &first))
        return D3DERR_INVALIDCALL;
    const std::vector<uint8_t>& bytes = stream_->bytes();
    if (!context_.rasterizing) return S_OK;

    // The stages as the platform resolves them: up to the first disabled colour operation,
    // CURRENT at stage 0 is the diffuse colour, a stage whose colour needs a missing texture
    // passes its input on, a missing texture as an alpha argument reads the diffuse alpha.
    Batch::State state;
    uint64_t key = 0;
    int stages = 0;
    for (int s = 0; s < 2; ++s) {
        const DWORD colourOp = stageStates_[s][D3DTSS_COLOROP];
        if (colourOp == D3DTOP_DISABLE) break;
        Stage st;
        st.colourOp = stageOp(colourOp);
        st.colour1 = stageArg(stageStates_[s][D3DTSS_COLORARG1], s);
        st.colour2 = stageArg(stageStates_[s][D3DTSS_COLORARG2], s);
        const DWORD alphaOp = stageStates_[s][kTssAlphaOp];
        if (alphaOp == D3DTOP_DISABLE) {
            st.alphaOp = kSelect1;
            st.alpha1 = st.alpha2 = stageArg(D3DTA_CURRENT, s);
        } else {
            st.alphaOp = stageOp(alphaOp);
            st.alpha1 = stageArg(stageStates_[s][kTssAlphaArg1], s);
            st.alpha2 = stageArg(stageStates_[s][kTssAlphaArg2], s);
        }
        auto* texture = static_cast<GlTexture*>(textures_[s]);
        if (texture != nullptr && texture->pool() == D3DPOOL_SYSTEMMEM) texture = nullptr;
        if (texture == nullptr) {
            if (reads(st.colourOp, st.colour1, st.colour2, kTexel)) {
                st.colourOp = kSelect1;
                st.colour1 = stageArg(D3DTA_CURRENT, s);
            }
            if (st.alpha1 == kTexel) st.alpha1 = kDiffuse;
            if (st.alpha2 == kTexel) st.alpha2 = kDiffuse;
        }
        st.textured = texture != nullptr && (reads(st.colourOp, st.colour1, st.colour2, kTexel) ||
                                             reads(st.alphaOp, st.alpha1, st.alpha2, kTexel));
        if (st.textured) {
            st.opaque = texture->format() == D3DFMT_X8R8G8B8;
            state.texture[s] = texture->name();
            state.minFilter[s] =
                isLinear(samplerStates_[s][D3DSAMP_MINFILTER]) ? GL_LINEAR : GL_NEAREST;
            state.magFilter[s] =
                isLinear(samplerStates_[s][D3DSAMP_MAGFILTER]) ? GL_LINEAR : GL_NEAREST;
            state.wrapS[s] =
                samplerStates_[s][kSampAddressU] == kAddressClamp ? GL_CLAMP_TO_EDGE : GL_REPEAT;
            state.wrapT[s] =
                samplerStates_[s][kSampAddressV] == kAddressClamp ? GL_CLAMP_TO_EDGE : GL_REPEAT;
        }
        key |= uint64_t(stageBits(st)) << (16 * s);
        stages = s + 1;
    }
    key |= uint64_t(stages) << 32;
    state.program = key + 1;
    state.factor = renderStates_[kRsTextureFactor];
    state.blend = renderStates_[D3DRS_ALPHABLENDENABLE] != 0;
    if (state.blend) {
        state.source = blendFactor(renderStates_[D3DRS_SRCBLEND]);
        state.destination = blendFactor(renderStates_[D3DRS_DESTBLEND]);
    }
    state.cull = renderStates_[D3DRS_CULLMODE];
    state.depthTest = depthBuffer_ && renderStates_[D3DRS_ZENABLE] != D3DZB_FALSE;
    state.depthWrite = state.depthTest && renderStates_[D3DRS_ZWRITEENABLE] != 0;
    state.depthFunc = depthFunction(renderStates_[kRsZFunc]);
    if (!(state == batch_->state)) {
        flush();
        batch_->state = state;
    }

    // Lighting without lights or normals leaves black with the vertex alpha.
    const bool lit = renderStates_[D3DRS_LIGHTING] != 0;
    const D3DXMATRIX& m = combinedMatrix();
    auto vertexAt = [&](uint64_t i) {
        const uint8_t* v = bytes.data() + first + i * stride_;
        float p[3];
        GlVertex out;
        std::memcpy(p, v, sizeof p);
        std::memcpy(out.colour, v + 12, 4);
        std::memcpy(out.uv, v + 16, sizeof out.uv);
        if (lit) out.colour[0] = out.colour[1] = out.colour[2] = 0;
        transformPoint(m, p, out.clip);
        return out;
    };
    std::vector<GlVertex>& out = batch_->vertices;
    if (type == D3DPT_TRIANGLESTRIP) {
        GlVertex corner[3] = {vertexAt(0), vertexAt(1), GlVertex{}};
        for (UINT k = 0; k < primitiveCount; ++k) {
            corner[2] = vertexAt(k + 2);
            // Every second triangle of a strip has its first two corners swapped, so that all
            // the strip's triangles face the way the first one does.
            const bool odd = (k & 1u) != 0;
            out.push_back(corner[odd ? 1 : 0]);
            out.push_back(corner[odd ? 0 : 1]);
            out.push_back(corner[2]);
            corner[0] = corner[1];
            corner[1] = corner[2];
        }
    } else {
        for (uint64_t i = 0; i < vertices; ++i) out.push_back(vertexAt(i));
    }
    return S_OK;
}

void GlDevice::applyBatchState() {
    const Batch::State& s = batch_->state;
    const auto& program = programs_->get(s.program);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, targetWidth_, targetHeight_);
    glUseProgram(program.name);
    glUniform2f(program.shift, 2.0f * kCentreShift / float(targetWidth_),
                2.0f * kCentreShift / float(targetHeight_));
    if (program.factor >= 0) {
        float f[4];
        colourBytes(s.factor, f);
        glUniform4f(program.factor, f[0], f[1], f[2], f[3]);
    }
    for (int i = 0; i < 2; ++i) {
        glActiveTexture(GL_TEXTURE0 + i);
        glBindTexture(GL_TEXTURE_2D, s.texture[i]);
        if (s.texture[i] == 0) continue;
        glBindSampler(i, samplers_[i]);
        glSamplerParameteri(samplers_[i], GL_TEXTURE_MIN_FILTER, s.minFilter[i]);
        glSamplerParameteri(samplers_[i], GL_TEXTURE_MAG_FILTER, s.magFilter[i]);
        glSamplerParameteri(samplers_[i], GL_TEXTURE_WRAP_S, s.wrapS[i]);
        glSamplerParameteri(samplers_[i], GL_TEXTURE_WRAP_T, s.wrapT[i]);
    }
    if (s.blend) {
        glEnable(GL_BLEND);
        glBlendEquation(GL_FUNC_ADD);
        glBlendFunc(s.source, s.destination);
    } else {
        glDisable(GL_BLEND);
    }
    // Rows are stored top first, so a triangle clockwise on the platform's screen is counter-
    // clockwise to OpenGL.
    if (s.cull == D3DCULL_CW || s.cull == D3DCULL_CCW) {
        glEnable(GL_CULL_FACE);
        glFrontFace(GL_CCW);
        glCullFace(s.cull == D3DCULL_CCW ? GL_BACK : GL_FRONT);
    } else {
        glDisable(GL_CULL_FACE);
    }
    if (s.depthTest) {
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(s.depthFunc);
        glDepthMask(s.depthWrite ? GL_TRUE : GL_FALSE);
    } else {
        glDisable(GL_DEPTH_TEST);
    }
}

void GlDevice::flush() {
    std::vector<GlVertex>& vertices = batch_->vertices;
    if (vertices.empty()) return;
    applyBatchState();
    sendVertices(GL_TRIANGLES, vertices);
    vertices.clear();
}

void GlDevice::drawPoints(const std::vector<int64_t>& xy, D3DCOLOR colour) {
    flush();
    if (xy.empty()) return;
    points_.resize(xy.size() / 2);
    const float sx = 2.0f / float(targetWidth_), sy = 2.0f / float(targetHeight_);
    for (size_t i = 0; i < points_.size(); ++i) {
        GlVertex& v = points_[i];
        // The pixel's centre in the platform's clip space.
        v.clip[0] = float(xy[2 * i]) * sx - 1.0f;
        v.clip[1] = 1.0f - float(xy[2 * i + 1]) * sy;
        v.clip[2] = 0.0f;
        v.clip[3] = 1.0f;
        std::memcpy(v.colour, &colour, 4);
        std::fill(v.uv, v.uv + 4, 0.0f);
    }
    drawBlended(kPointsProgram, GL_POINTS, points_, colour, 0);
}

void GlDevice::drawGlyphs(const std::vector<GlVertex>& quads, GLuint atlas, D3DCOLOR colour) {
    flush();
    if (!quads.empty()) drawBlended(kGlyphProgram, GL_TRIANGLES, quads, colour, atlas);
}

void GlDevice::drawBlended(uint64_t programKey, GLenum mode, const std::vector<GlVertex>& vertices,
                           D3DCOLOR colour, GLuint texture) {
    const auto& program = programs_->get(programKey);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glViewport(0, 0, targetWidth_, targetHeight_);
    glUseProgram(program.name);
    glUniform2f(program.shift, 2.0f * kCentreShift / float(targetWidth_),
                2.0f * kCentreShift / float(targetHeight_));
    if (program.factor >= 0) {
        float c[4];
        colourBytes(colour, c);
        glUniform4f(program.factor, c[0], c[1], c[2], c[3]);
    }
    if (texture != 0) {
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        glBindSampler(0, 0);
    }
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    sendVertices(mode, vertices);
}

void GlDevice::sendVertices(GLenum mode, const std::vector<GlVertex>& vertices) {
    glBindVertexArray(vertexArray_);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer_);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size() * sizeof(GlVertex)), vertices.data(),
                 GL_STREAM_DRAW);
    glDrawArrays(mode, 0, GLsizei(vertices.size()));
}

HRESULT GlDevice::UpdateTexture(Direct3DTexture9* source, Direct3DTexture9* destination) {
    auto* from = dynamic_cast<GlTexture*>(source);
    auto* to = dynamic_cast<GlTexture*>(destination);
    if (!copyable(from, to)) return D3DERR_INVALIDCALL;
    to->setTexels(from->texels());
    return S_OK;
}

// ---- Direct3D object ----

Direct3DDevice9* GlDirect3D::makeDevice(const D3DPRESENT_PARAMETERS& parameters) {
    auto* made = context_.objects.make<GlDevice>(context_, parameters);
    std::string error;
    if (!made->start(&error)) {
        std::fprintf(stderr, "quillmere: the GL renderer cannot draw: %s\n", error.c_str());
        return nullptr;
    }
    context_.device = made;
    return made;
}
