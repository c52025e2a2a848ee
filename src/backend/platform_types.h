#pragma once
// The records and scalar types the show hands to the outside world, laid out and named as the
// platform has them so that the show's code reads the same as the calls it makes. Nothing here
// comes from a system header: every backend sees these definitions and nothing else.
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using INT = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using QWORD = uint64_t;
using BOOL = int32_t;
using ATOM = uint16_t;
using HRESULT = int32_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Handles are opaque: the show stores and passes them on, never looks inside.
struct HWND__;
struct HINSTANCE__;
struct HCURSOR__;
struct HICON__;
struct HBRUSH__;
struct HMENU__;
using HWND = HWND__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HCURSOR = HCURSOR__*;
using HICON = HICON__*;
using HBRUSH = HBRUSH__*;
using HMENU = HMENU__*;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

// One window message.
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
    HICON hIconSm;
};

// ---- graphics ----

// 32-bit colour, alpha in the top byte, then red, green, blue (0xAARRGGBB).
using D3DCOLOR = uint32_t;

using D3DFORMAT = DWORD;
using D3DPOOL = DWORD;
using D3DDEVTYPE = DWORD;
using D3DMULTISAMPLE_TYPE = DWORD;
using D3DSWAPEFFECT = DWORD;
using D3DRENDERSTATETYPE = DWORD;
using D3DTEXTURESTAGESTATETYPE = DWORD;
using D3DSAMPLERSTATETYPE = DWORD;
using D3DTRANSFORMSTATETYPE = DWORD;
using D3DPRIMITIVETYPE = DWORD;

struct D3DXVECTOR2 {
    float x;
    float y;
};

struct D3DXVECTOR3 {
    float x;
    float y;
    float z;
};

struct D3DXVECTOR4 {
    float x;
    float y;
    float z;
    float w;
};

// 4 x 4 floats, m[row][column]; points are row vectors, p' = p x M, so the translation sits in
// row 3.
struct D3DXMATRIX {
    float m[4][4];
};

struct D3DDISPLAYMODE {
    UINT Width;
    UINT Height;
    UINT RefreshRate;
    D3DFORMAT Format;
};

struct D3DPRESENT_PARAMETERS {
    UINT BackBufferWidth;
    UINT BackBufferHeight;
    D3DFORMAT BackBufferFormat;
    UINT BackBufferCount;
    D3DMULTISAMPLE_TYPE MultiSampleType;
    DWORD MultiSampleQuality;
    D3DSWAPEFFECT SwapEffect;
    HWND hDeviceWindow;
    BOOL Windowed;
    BOOL EnableAutoDepthStencil;
    D3DFORMAT AutoDepthStencilFormat;
    DWORD Flags;
    UINT FullScreen_RefreshRateInHz;
    UINT PresentationInterval;
};

// What a texture lock hands out: rows are Pitch bytes apart, which may be more than the row's
// texels take.
struct D3DLOCKED_RECT {
    INT Pitch;
    void* pBits;
};

// ---- input ----

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}

// A device's data format, reduced to what a backend needs: the size of the state record it
// fills. The two standard formats are c_dfDIKeyboard and c_dfDIMouse (platform_constants.h).
struct DIDATAFORMAT {
    DWORD dwDataSize;
};

// The mouse's state record with the standard mouse format: relative axis movements since the
// previous read, then four buttons (bit 7 set = pressed).
struct DIMOUSESTATE {
    LONG lX;
    LONG lY;
    LONG lZ;
    BYTE rgbButtons[4];
};
static_assert(sizeof(DIMOUSESTATE) == 16, "the mouse state record is 16 bytes");

// ---- audio ----

using HSTREAM = DWORD;
using HSYNC = DWORD;

// Called by the audio library, on a thread of its own, when a sync fires.
using SYNCPROC = void(HSYNC handle, DWORD channel, DWORD data, void* user);
