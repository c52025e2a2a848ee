#include "painting/brush.h"

#include <cstring>

namespace {

const BrushVertex kDefaultCorners[4] = {
    {-1, -1, 0, 0x0030F660, 0, 0, 0, 0},
    {1, -1, 0, 0xFFFFFFFF, 1, 0, 1, 0},
    {1, 1, 0, 0x00562000, 1, 1, 1, 1},
    {-1, 1, 0, 0x002010F6, 0, 1, 0, 1},
};

// Buffer slot i holds this corner: the strip's triangles (0, 1, 3) and (3, 1, 2) cover the quad.
const int kStripOrder[4] = {0, 1, 3, 2};

}  // namespace

Brush::Brush() : device(nullptr), vertexBuffer(nullptr) {
    for (BrushVertex& corner : corners) {
        corner = BrushVertex{0, 0, 0, 0xFFFFFFFF, 0, 0, 0, 0};
    }
}

Brush::Brush(Direct3DDevice9* device) : Brush() {
    init(device);
}

Brush::~Brush() = default;

void Brush::init(Direct3DDevice9* newDevice) {
    device = newDevice;
    vertexBuffer = nullptr;
    device->CreateVertexBuffer(kBrushBufferBytes, D3DUSAGE_WRITEONLY, kBrushVertexFormat,
                               D3DPOOL_DEFAULT, &vertexBuffer);
    for (int i = 0; i < 4; ++i) corners[i] = kDefaultCorners[i];
    upload();
}

void Brush::upload() {
    // Without a buffer (its creation failed) or without a lock there is nowhere to write: the
    // corners stay in memory and the buffer keeps what it held.
    if (vertexBuffer == nullptr) return;
    void* data = nullptr;
    if (FAILED(vertexBuffer->Lock(0, 0, &data, 0)) || data == nullptr) return;
    unsigned char* slots = static_cast<unsigned char*>(data);
    for (int slot = 0; slot < 4; ++slot) {
        std::memcpy(slots + slot * kBrushVertexStride, &corners[kStripOrder[slot]],
                    kBrushVertexStride);
    }
    vertexBuffer->Unlock();
}

void Brush::setCorners(const BrushVertex newCorners[4]) {
    for (int i = 0; i < 4; ++i) corners[i] = newCorners[i];
    upload();
}

void Brush::setColours(const D3DCOLOR colours[4]) {
    for (int i = 0; i < 4; ++i) corners[i].diffuse = colours[i];
    upload();
}

void Brush::bind() {
    device->SetStreamSource(0, vertexBuffer, 0, kBrushVertexStride);
    device->SetFVF(kBrushVertexFormat);
}

void Brush::draw() {
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
}

void Brush::bindAndDraw() {
    bind();
    draw();
}
