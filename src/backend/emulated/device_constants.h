#pragma once
// The platform's numbering of the device states and values the renderers understand beyond
// those the show itself passes (backend/platform_constants.h has those).
#include "backend/platform_types.h"

namespace emulated {

// Render states.
constexpr D3DRENDERSTATETYPE kRsZFunc = 23;
constexpr D3DRENDERSTATETYPE kRsTextureFactor = 60;

// Primitive types.
constexpr D3DPRIMITIVETYPE kPrimitiveTriangleList = 4;

// Blend factors beyond those the show uses.
constexpr DWORD kBlendFactorZero = 1;
constexpr DWORD kBlendFactorDestAlpha = 7;
constexpr DWORD kBlendFactorInvDestAlpha = 8;
constexpr DWORD kBlendFactorDestColor = 9;
constexpr DWORD kBlendFactorInvDestColor = 10;

// Texture-stage states.
constexpr D3DTEXTURESTAGESTATETYPE kTssAlphaOp = 4;
constexpr D3DTEXTURESTAGESTATETYPE kTssAlphaArg1 = 5;
constexpr D3DTEXTURESTAGESTATETYPE kTssAlphaArg2 = 6;
constexpr D3DTEXTURESTAGESTATETYPE kTssTexCoordIndex = 11;

// Stage operations and arguments.
constexpr DWORD kTopSelectArg1 = 2;
constexpr DWORD kTopSelectArg2 = 3;
constexpr DWORD kTopAdd = 7;
constexpr DWORD kTaTFactor = 3;
constexpr DWORD kTaSelectMask = 0xF;

// Sampler states and values.
constexpr D3DSAMPLERSTATETYPE kSampAddressU = 1;
constexpr D3DSAMPLERSTATETYPE kSampAddressV = 2;
constexpr DWORD kTexfPoint = 1;
constexpr DWORD kTexfAnisotropic = 3;
constexpr DWORD kAddressWrap = 1;
constexpr DWORD kAddressClamp = 3;

}  // namespace emulated
