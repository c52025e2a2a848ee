#include "backend/backend.h"

namespace {
Backend current;
}

void useBackend(const Backend& services) {
    current = services;
}

const Backend& backend() {
    return current;
}
