#pragma once
// Every number the show passes to or tests from the outside world, with the platform's own
// numbering, so that the show states the same values a native backend hands straight through.
#include <cstdint>

#include "backend/platform_types.h"

// ---- result codes: negative means failure ----

constexpr HRESULT S_OK = 0;
constexpr HRESULT DI_OK = 0;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
constexpr HRESULT D3DXERR_INVALIDDATA = static_cast<HRESULT>(0x88760B59u);
constexpr HRESULT DIERR_INVALIDPARAM = E_INVALIDARG;
constexpr HRESULT DIERR_NOTACQUIRED = static_cast<HRESULT>(0x8007000Cu);
constexpr HRESULT DIERR_INPUTLOST = static_cast<HRESULT>(0x8007001Eu);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// ---- Direct3D: device creation ----

constexpr UINT D3D_SDK_VERSION = 32;
constexpr UINT D3DADAPTER_DEFAULT = 0;
constexpr D3DDEVTYPE D3DDEVTYPE_HAL = 1;
constexpr DWORD D3DCREATE_SOFTWARE_VERTEXPROCESSING = 0x20;
constexpr DWORD D3DCREATE_HARDWARE_VERTEXPROCESSING = 0x40;
constexpr D3DMULTISAMPLE_TYPE D3DMULTISAMPLE_NONE = 0;
constexpr D3DSWAPEFFECT D3DSWAPEFFECT_FLIP = 2;
constexpr UINT D3DPRESENT_INTERVAL_DEFAULT = 0;

// ---- Direct3D: formats, pools, usage ----

constexpr D3DFORMAT D3DFMT_UNKNOWN = 0;
constexpr D3DFORMAT D3DFMT_A8R8G8B8 = 21;
constexpr D3DFORMAT D3DFMT_X8R8G8B8 = 22;
constexpr D3DFORMAT D3DFMT_D24S8 = 75;

constexpr D3DPOOL D3DPOOL_DEFAULT = 0;
constexpr D3DPOOL D3DPOOL_MANAGED = 1;
constexpr D3DPOOL D3DPOOL_SYSTEMMEM = 2;

constexpr DWORD D3DUSAGE_WRITEONLY = 0x8;

// ---- Direct3D: frame ----

constexpr DWORD D3DCLEAR_TARGET = 0x1;
constexpr DWORD D3DCLEAR_ZBUFFER = 0x2;
constexpr DWORD D3DCLEAR_STENCIL = 0x4;

// ---- Direct3D: render states and their values ----

constexpr D3DRENDERSTATETYPE D3DRS_ZENABLE = 7;
constexpr D3DRENDERSTATETYPE D3DRS_SHADEMODE = 9;
constexpr D3DRENDERSTATETYPE D3DRS_ZWRITEENABLE = 14;
constexpr D3DRENDERSTATETYPE D3DRS_SRCBLEND = 19;
constexpr D3DRENDERSTATETYPE D3DRS_DESTBLEND = 20;
constexpr D3DRENDERSTATETYPE D3DRS_CULLMODE = 22;
constexpr D3DRENDERSTATETYPE D3DRS_ALPHABLENDENABLE = 27;
constexpr D3DRENDERSTATETYPE D3DRS_SPECULARENABLE = 29;
constexpr D3DRENDERSTATETYPE D3DRS_STENCILENABLE = 52;
constexpr D3DRENDERSTATETYPE D3DRS_LIGHTING = 137;
constexpr D3DRENDERSTATETYPE D3DRS_LOCALVIEWER = 142;

constexpr DWORD D3DZB_FALSE = 0;
constexpr DWORD D3DZB_TRUE = 1;

constexpr DWORD D3DCULL_NONE = 1;
constexpr DWORD D3DCULL_CW = 2;
constexpr DWORD D3DCULL_CCW = 3;

// Depth comparisons: the new depth against the stored one.
constexpr DWORD D3DCMP_NEVER = 1;
constexpr DWORD D3DCMP_LESS = 2;
constexpr DWORD D3DCMP_EQUAL = 3;
constexpr DWORD D3DCMP_LESSEQUAL = 4;
constexpr DWORD D3DCMP_GREATER = 5;
constexpr DWORD D3DCMP_NOTEQUAL = 6;
constexpr DWORD D3DCMP_GREATEREQUAL = 7;
constexpr DWORD D3DCMP_ALWAYS = 8;

constexpr DWORD D3DSHADE_GOURAUD = 2;

constexpr DWORD D3DBLEND_ONE = 2;
constexpr DWORD D3DBLEND_SRCCOLOR = 3;
constexpr DWORD D3DBLEND_INVSRCCOLOR = 4;
constexpr DWORD D3DBLEND_SRCALPHA = 5;
constexpr DWORD D3DBLEND_INVSRCALPHA = 6;

// ---- Direct3D: texture stages and samplers ----

constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLOROP = 1;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG1 = 2;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG2 = 3;

constexpr DWORD D3DTOP_DISABLE = 1;
constexpr DWORD D3DTOP_MODULATE = 4;
constexpr DWORD D3DTOP_MODULATE2X = 5;
constexpr DWORD D3DTOP_MODULATE4X = 6;

constexpr DWORD D3DTA_DIFFUSE = 0;
constexpr DWORD D3DTA_CURRENT = 1;
constexpr DWORD D3DTA_TEXTURE = 2;

constexpr D3DSAMPLERSTATETYPE D3DSAMP_MAGFILTER = 5;
constexpr D3DSAMPLERSTATETYPE D3DSAMP_MINFILTER = 6;

constexpr DWORD D3DTEXF_LINEAR = 2;

// ---- Direct3D: transforms, primitives, vertex formats ----

constexpr D3DTRANSFORMSTATETYPE D3DTS_VIEW = 2;
constexpr D3DTRANSFORMSTATETYPE D3DTS_PROJECTION = 3;
constexpr D3DTRANSFORMSTATETYPE D3DTS_WORLD = 256;

constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLESTRIP = 5;

constexpr DWORD D3DFVF_XYZ = 0x002;
constexpr DWORD D3DFVF_DIFFUSE = 0x040;
constexpr DWORD D3DFVF_TEX2 = 0x200;
constexpr DWORD D3DFVF_TEXCOUNT_MASK = 0xF00;
constexpr DWORD D3DFVF_TEXCOUNT_SHIFT = 8;

// ---- extension library: fonts and text ----

constexpr DWORD DEFAULT_CHARSET = 1;
constexpr DWORD OUT_DEFAULT_PRECIS = 0;
constexpr DWORD DEFAULT_QUALITY = 0;
constexpr DWORD DEFAULT_PITCH = 0;
constexpr DWORD FF_DONTCARE = 0;
constexpr UINT FW_BOLD = 700;
constexpr DWORD DT_LEFT = 0;
constexpr DWORD DT_TOP = 0;

// ---- window system ----

constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETCURSOR = 0x0020;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_HOTKEY = 0x0312;

constexpr WPARAM VK_ESCAPE = 0x1B;

constexpr UINT CS_DBLCLKS = 0x0008;
constexpr DWORD WS_EX_STATICEDGE = 0x00020000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);
constexpr int SW_SHOWDEFAULT = 10;

constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

constexpr UINT MB_OK = 0x0000;
constexpr int IDOK = 1;

// Resource names below 0x10000 are numbers carried in the pointer, as the platform does.
constexpr uintptr_t kIdcArrow = 32512;
inline const char* const IDC_ARROW = reinterpret_cast<const char*>(kIdcArrow);

// ---- input ----

constexpr DWORD DIRECTINPUT_VERSION = 0x0800;

constexpr DWORD DISCL_NONEXCLUSIVE = 0x2;
constexpr DWORD DISCL_BACKGROUND = 0x8;

// The device identifiers and data formats are objects with one address each (the recorder
// names a format by its address). The platform's input library exports objects of the same
// names, so ours carry a namespace in their symbols, or the native program's linker would take
// one for the other.
namespace seam_objects {
// The platform's own device identifiers: the native backend hands them to DirectInput unchanged.
inline constexpr GUID GUID_SysMouse = {
    0x6F1D2B60, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
inline constexpr GUID GUID_SysKeyboard = {
    0x6F1D2B61, 0xD5A0, 0x11CF, {0xBF, 0xC7, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// The standard formats: 256 key bytes, and the mouse state record.
inline constexpr DIDATAFORMAT c_dfDIKeyboard = {256};
inline constexpr DIDATAFORMAT c_dfDIMouse = {sizeof(DIMOUSESTATE)};
}  // namespace seam_objects
using seam_objects::c_dfDIKeyboard;
using seam_objects::c_dfDIMouse;
using seam_objects::GUID_SysKeyboard;
using seam_objects::GUID_SysMouse;

// Keyboard scan codes (index into the 256 key bytes; bit 7 of a byte set = key down).
constexpr int DIK_F1 = 0x3B;
constexpr int DIK_F2 = 0x3C;
constexpr int DIK_F3 = 0x3D;
constexpr int DIK_F4 = 0x3E;
constexpr int DIK_NUMLOCK = 0x45;
constexpr int DIK_DIVIDE = 0xB5;

// ---- audio ----

constexpr DWORD BASS_SYNC_END = 2;
constexpr DWORD BASS_SAMPLE_LOOP = 4;
