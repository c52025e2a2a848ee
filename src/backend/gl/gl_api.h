#pragma once
// OpenGL ES 3.0, the part WebGL 2 also has: the one header the GPU renderer includes for it.
#include <GLES3/gl3.h>
