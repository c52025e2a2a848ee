#pragma once
// The DirectInput objects of the desktop backend. The backend owns them until it goes; Release
// only counts references, so the show never holds a dangling pointer.
#include "backend/input.h"
#include "backend/sdl/sdl_backend.h"

class SdlInputDevice final : public DirectInputDevice8, public SdlObject {
  public:
    SdlInputDevice(SdlBackend& owner, bool keyboard) : owner_(owner), keyboard_(keyboard) {}

    HRESULT SetDataFormat(const DIDATAFORMAT* format) override;
    HRESULT SetCooperativeLevel(HWND window, DWORD flags) override;
    HRESULT Acquire() override;
    HRESULT Unacquire() override;
    HRESULT GetDeviceState(DWORD size, void* data) override;
    ULONG Release() override { return dropReference(); }

  private:
    SdlBackend& owner_;
    bool keyboard_;
    DWORD formatSize_ = 0;
    bool acquired_ = false;
};

class SdlDirectInput final : public DirectInput8, public SdlObject {
  public:
    explicit SdlDirectInput(SdlBackend& owner) : owner_(owner) {}

    HRESULT CreateDevice(const GUID& guid, DirectInputDevice8** device) override;
    ULONG Release() override { return dropReference(); }

  private:
    SdlBackend& owner_;
};
