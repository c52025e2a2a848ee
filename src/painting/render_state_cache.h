#pragma once
#include <cstdint>

#include "backend/graphics.h"

// The cached values, copied out to nest one layer's state inside another's.
struct RenderStateSnapshot {
    int32_t alphaBlendEnable;
    int32_t srcBlend;
    int32_t destBlend;
    Direct3DTexture9* texture[2];
    int32_t colorOp[2];
    int32_t colorArg1[2];
    int32_t colorArg2[2];
};

// Passed for a blend factor or a stage colour value: leave the cached value as it is.
const int32_t kKeepState = -1;

// The only path by which the painting sets blending, the textures of stages 0 and 1 and their
// colour operation and arguments. It mirrors those values and sends a state to the device only
// when the requested value differs from the mirrored one, so the loops that run hundreds of
// times a frame cost no redundant device calls. It assumes nobody else changes these states.
class RenderStateCache {
  public:
    // Loads the defaults and sends all nine states (no textures).
    explicit RenderStateCache(Direct3DDevice9* device);

    // Loads the defaults, textures included, and sends the nine states. No texture is sent: the
    // device keeps its textures while the cache records none, and the next real texture set on
    // a stage is sent because it differs from none.
    void resetDefaults();
    // Sends blend enable, source and destination, then colour operation and both arguments of
    // stage 0 and of stage 1, whatever the device had.
    void applyAll();

    // enable has no keep value; either factor may be kKeepState.
    void setBlend(int32_t enable, int32_t source, int32_t destination);
    // texture may be null (none); stage is 0 or 1.
    void setTexture(Direct3DTexture9* newTexture, int32_t stage);
    // Any of the three may be kKeepState; stage is 0 or 1.
    void setStageColour(int32_t operation, int32_t argument1, int32_t argument2, int32_t stage);

    RenderStateSnapshot snapshot() const;
    // Brings the cache and the device back to `saved`, sending only what differs.
    void restore(const RenderStateSnapshot& saved);

    int32_t alphaBlendEnable;
    int32_t srcBlend;
    int32_t destBlend;
    Direct3DTexture9* texture[2];
    int32_t colorOp[2];
    int32_t colorArg1[2];
    int32_t colorArg2[2];
    Direct3DDevice9* device;

  private:
    void loadDefaults();
    void setStageState(int32_t stage, D3DTEXTURESTAGESTATETYPE type, int32_t value, int32_t cached);
};
