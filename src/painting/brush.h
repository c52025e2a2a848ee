#pragma once
#include "backend/graphics.h"

// One corner of a brush quad, laid out exactly as the vertices the device reads (format 578).
struct BrushVertex {
    float x;
    float y;
    float z;
    D3DCOLOR diffuse;
    float tu0;
    float tv0;
    float tu1;
    float tv1;
};
static_assert(sizeof(BrushVertex) == 32, "a brush vertex is 32 bytes with no gaps");

// Position, diffuse colour and two texture-coordinate pairs: 0x242.
const DWORD kBrushVertexFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2;
const UINT kBrushVertexStride = sizeof(BrushVertex);
const UINT kBrushBufferBytes = 4 * kBrushVertexStride;

// The one drawable of the painting: a quad of four coloured, textured corners in a small vertex
// buffer of its own, drawn as a two-triangle strip. Corner 0 is the top-left (-1, -1), then
// clockwise on screen: top-right, bottom-right, bottom-left. The brush sets only its stream and
// vertex format; textures, blending and the world transform are the caller's.
class Brush {
  public:
    // Zeroed positions and texture coordinates, white corners; unusable until init.
    Brush();
    explicit Brush(Direct3DDevice9* device);
    // Releases nothing: every brush lives as long as its device.
    virtual ~Brush();
    Brush(const Brush&) = delete;
    Brush& operator=(const Brush&) = delete;

    // Creates the vertex buffer, sets the default corners and uploads them.
    void init(Direct3DDevice9* device);
    // Rewrites the whole buffer in strip order: corners 0, 1, 3, 2.
    void upload();
    void setCorners(const BrushVertex newCorners[4]);
    // Diffuse colours of corners 0 to 3; positions and texture coordinates stay.
    void setColours(const D3DCOLOR colours[4]);
    void bind();
    void draw();
    void bindAndDraw();

    Direct3DDevice9* device;
    BrushVertex corners[4];
    Direct3DVertexBuffer9* vertexBuffer;
};
