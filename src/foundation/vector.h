#pragma once
#include <cstddef>
#include <cstdint>
#include <new>

// The program's one growable array. Holds plain values: elements are copied by assignment and
// never constructed or destroyed one by one; a Vector of pointers does not own the pointees.
// Fields are public because callers read `count` and index `items` directly.
template <typename T>
class Vector {
  public:
    Vector() : items(new T[kInitialCapacity]), count(0), growBy(0), capacity(kInitialCapacity) {}

    // Not part of the program's own use; copying builds a fresh array through assignment so two
    // vectors never share storage.
    Vector(const Vector& src) : Vector() { *this = src; }

    virtual ~Vector() {
        delete[] items;
        items = nullptr;
    }

    // Always re-allocates: to capacity + growBy, or double when growBy is 0, but at least
    // minCapacity.
    void grow(int32_t minCapacity) {
        int64_t newCapacity = growBy > 0 ? int64_t(capacity) + growBy : int64_t(capacity) * 2;
        if (newCapacity < minCapacity) newCapacity = minCapacity;
        // A byte size that does not fit in 32 bits is treated like any failed allocation.
        if (newCapacity <= 0 || uint64_t(newCapacity) * sizeof(T) > UINT32_MAX)
            throw std::bad_alloc();
        T* fresh = new T[size_t(newCapacity)];
        for (int32_t i = 0; i < count; ++i) fresh[i] = items[i];
        delete[] items;
        items = fresh;
        capacity = int32_t(newCapacity);
    }

    void add(const T& value) {
        if (count + 1 > capacity) grow(count + 1);
        items[count] = value;
        count += 1;
    }

    // -1 when index is out of range; otherwise the later elements move down and the result is 1.
    int32_t removeAt(int32_t index) {
        if (index < 0 || index >= count) return -1;
        for (int32_t i = index; i < count - 1; ++i) items[i] = items[i + 1];
        count -= 1;
        return 1;
    }

    Vector& operator=(const Vector& src) {
        if (&src == this) return *this;
        count = 0;
        if (src.capacity > capacity) grow(src.capacity);
        for (int32_t i = 0; i < src.count; ++i) items[i] = src.items[i];
        count = src.count;
        return *this;
    }

    T* items;
    int32_t count;
    int32_t growBy;
    int32_t capacity;

    static const int32_t kInitialCapacity = 10;
};

// A Vector used last-in first-out.
template <typename T>
class Stack : public Vector<T> {
  public:
    explicit Stack(int32_t initialCapacity) {
        if (initialCapacity > Vector<T>::kInitialCapacity) this->grow(initialCapacity);
    }

    void push(const T& value) { this->add(value); }

    // The caller checks that the stack is not empty.
    T pop() {
        this->count -= 1;
        return this->items[this->count];
    }
};
