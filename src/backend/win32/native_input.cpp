// DirectInput 8: the keyboard and mouse devices.
#define DIRECTINPUT_VERSION 0x0800
// windows.h comes first: the other platform headers build on it.
#include <windows.h>

#include <dinput.h>

#include <cstring>

#include "backend/win32/native.h"

namespace native {

namespace {

IDirectInput8A* asDirectInput(void* object) {
    return static_cast<IDirectInput8A*>(object);
}
IDirectInputDevice8A* asDevice(void* object) {
    return static_cast<IDirectInputDevice8A*>(object);
}

static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");
static_assert(sizeof(DIMOUSESTATE) == 16, "the mouse state record is 16 bytes");

}  // namespace

int32_t directInput8Create(void* instance, uint32_t version, void** directInput) {
    void* created = nullptr;
    HRESULT result = DirectInput8Create(static_cast<HINSTANCE>(instance), version,
                                        IID_IDirectInput8A, &created, nullptr);
    *directInput = SUCCEEDED(result) ? created : nullptr;
    return result;
}

int32_t createInputDevice(void* directInput, const void* guid, void** device) {
    GUID id;
    std::memcpy(&id, guid, sizeof id);
    IDirectInputDevice8A* created = nullptr;
    HRESULT result = asDirectInput(directInput)->CreateDevice(id, &created, nullptr);
    *device = SUCCEEDED(result) ? created : nullptr;
    return result;
}

int32_t setDataFormat(void* device, uint32_t dataSize) {
    // The platform's two standard formats, told apart by the size of the record they fill.
    if (dataSize == 256) return asDevice(device)->SetDataFormat(&c_dfDIKeyboard);
    if (dataSize == sizeof(DIMOUSESTATE)) return asDevice(device)->SetDataFormat(&c_dfDIMouse);
    return DIERR_INVALIDPARAM;
}

int32_t setCooperativeLevel(void* device, void* window, uint32_t flags) {
    return asDevice(device)->SetCooperativeLevel(static_cast<HWND>(window), flags);
}

int32_t acquire(void* device) {
    return asDevice(device)->Acquire();
}

int32_t unacquire(void* device) {
    return asDevice(device)->Unacquire();
}

int32_t getDeviceState(void* device, uint32_t size, void* data) {
    return asDevice(device)->GetDeviceState(size, data);
}

}  // namespace native
