#pragma once
// The device numbering beyond the show's own, under the CPU renderer's names.
#include "backend/emulated/device_constants.h"

namespace soft {
using namespace emulated;
}  // namespace soft
