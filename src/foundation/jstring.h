#pragma once
#include <cstdint>

#include "foundation/vector.h"

// Zero-terminated byte text on top of Vector<char>: `count` includes the terminator and no zero
// lies before it. Numbers are rendered by the program itself: integers in decimal, floats with
// exactly three truncated decimals.
class JString : public Vector<char> {
  public:
    // Texts longer than this collapse to the empty text when normalised.
    static const int32_t kMaxScan = 10000;

    JString();
    JString(const char* s);  // NOLINT: texts convert implicitly, as in "x" + value
    JString(char* s);        // NOLINT
    JString(const JString& other);
    JString& operator=(const JString& src);

    void normalize();
    const char* c_str();

    JString& append(const JString& other);

    JString operator+(const JString& right) const;
    JString operator+(int32_t value) const;
    JString operator+(float value) const;

  private:
    void concatenate(const JString& piece);
    void appendChars(const char* s);
};

// Writes a non-negative value in base 2..16 into `out` (room for 40 characters). Returns `out`,
// or null (leaving `out` alone) for a negative value or an unsupported base. Zero is "0" in any
// base.
char* formatInteger(int32_t value, char* out, int32_t base);
