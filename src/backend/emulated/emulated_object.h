#pragma once
// The objects an emulated platform hands to the show (devices, textures, buffers, input
// devices). Whoever makes them keeps them until it goes; Release only counts references, so a
// last Release never leaves the show with a dangling pointer, and what the show leaves to the
// process's end is freed all the same.
#include <memory>
#include <utility>
#include <vector>

#include "backend/platform_types.h"

class EmulatedObject {
  public:
    virtual ~EmulatedObject() = default;

  protected:
    // What Release returns: the references left.
    ULONG dropReference() { return references_ > 0 ? --references_ : 0; }

  private:
    ULONG references_ = 1;
};

// Owns the objects it makes, in the order made.
class ObjectStore {
  public:
    template <class T, class... Args>
    T* make(Args&&... args) {
        auto object = std::make_unique<T>(std::forward<Args>(args)...);
        T* raw = object.get();
        objects_.push_back(std::move(object));
        return raw;
    }
    void clear() { objects_.clear(); }

  private:
    std::vector<std::unique_ptr<EmulatedObject>> objects_;
};
