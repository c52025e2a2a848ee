#include "painting/render_state_cache.h"

RenderStateCache::RenderStateCache(Direct3DDevice9* newDevice) : device(newDevice) {
    loadDefaults();
    applyAll();
}

void RenderStateCache::loadDefaults() {
    alphaBlendEnable = 0;
    srcBlend = static_cast<int32_t>(D3DBLEND_SRCCOLOR);
    destBlend = static_cast<int32_t>(D3DBLEND_INVSRCCOLOR);
    for (int32_t stage = 0; stage < 2; ++stage) texture[stage] = nullptr;
    colorOp[0] = static_cast<int32_t>(D3DTOP_MODULATE);
    colorOp[1] = static_cast<int32_t>(D3DTOP_DISABLE);
    for (int32_t stage = 0; stage < 2; ++stage) {
        colorArg1[stage] = static_cast<int32_t>(D3DTA_DIFFUSE);
        colorArg2[stage] = static_cast<int32_t>(D3DTA_CURRENT);
    }
}

void RenderStateCache::resetDefaults() {
    loadDefaults();
    applyAll();
}

void RenderStateCache::applyAll() {
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, static_cast<DWORD>(alphaBlendEnable));
    device->SetRenderState(D3DRS_SRCBLEND, static_cast<DWORD>(srcBlend));
    device->SetRenderState(D3DRS_DESTBLEND, static_cast<DWORD>(destBlend));
    for (DWORD stage = 0; stage < 2; ++stage) {
        device->SetTextureStageState(stage, D3DTSS_COLOROP, static_cast<DWORD>(colorOp[stage]));
        device->SetTextureStageState(stage, D3DTSS_COLORARG1, static_cast<DWORD>(colorArg1[stage]));
        device->SetTextureStageState(stage, D3DTSS_COLORARG2, static_cast<DWORD>(colorArg2[stage]));
    }
}

void RenderStateCache::setBlend(int32_t enable, int32_t source, int32_t destination) {
    if (source == kKeepState) source = srcBlend;
    if (destination == kKeepState) destination = destBlend;
    if (enable != alphaBlendEnable) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, static_cast<DWORD>(enable));
    }
    if (source != srcBlend) device->SetRenderState(D3DRS_SRCBLEND, static_cast<DWORD>(source));
    if (destination != destBlend) {
        device->SetRenderState(D3DRS_DESTBLEND, static_cast<DWORD>(destination));
    }
    alphaBlendEnable = enable;
    srcBlend = source;
    destBlend = destination;
}

void RenderStateCache::setTexture(Direct3DTexture9* newTexture, int32_t stage) {
    if (newTexture != texture[stage]) device->SetTexture(static_cast<DWORD>(stage), newTexture);
    texture[stage] = newTexture;
}

void RenderStateCache::setStageState(int32_t stage, D3DTEXTURESTAGESTATETYPE type, int32_t value,
                                     int32_t cached) {
    if (value != cached) {
        device->SetTextureStageState(static_cast<DWORD>(stage), type, static_cast<DWORD>(value));
    }
}

void RenderStateCache::setStageColour(int32_t operation, int32_t argument1, int32_t argument2,
                                      int32_t stage) {
    if (operation == kKeepState) operation = colorOp[stage];
    if (argument1 == kKeepState) argument1 = colorArg1[stage];
    if (argument2 == kKeepState) argument2 = colorArg2[stage];
    setStageState(stage, D3DTSS_COLOROP, operation, colorOp[stage]);
    setStageState(stage, D3DTSS_COLORARG1, argument1, colorArg1[stage]);
    setStageState(stage, D3DTSS_COLORARG2, argument2, colorArg2[stage]);
    colorOp[stage] = operation;
    colorArg1[stage] = argument1;
    colorArg2[stage] = argument2;
}

RenderStateSnapshot RenderStateCache::snapshot() const {
    RenderStateSnapshot saved;
    saved.alphaBlendEnable = alphaBlendEnable;
    saved.srcBlend = srcBlend;
    saved.destBlend = destBlend;
    for (int32_t stage = 0; stage < 2; ++stage) {
        saved.texture[stage] = texture[stage];
        saved.colorOp[stage] = colorOp[stage];
        saved.colorArg1[stage] = colorArg1[stage];
        saved.colorArg2[stage] = colorArg2[stage];
    }
    return saved;
}

void RenderStateCache::restore(const RenderStateSnapshot& saved) {
    setBlend(saved.alphaBlendEnable, saved.srcBlend, saved.destBlend);
    for (int32_t stage = 0; stage < 2; ++stage) {
        setTexture(saved.texture[stage], stage);
        setStageColour(saved.colorOp[stage], saved.colorArg1[stage], saved.colorArg2[stage], stage);
    }
}
