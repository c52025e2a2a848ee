#include "foundation/jstring.h"

#include <cmath>
#include <cstring>

namespace {

const int32_t kNumberBuffer = 40;
const char* const kDigits[16] = {"0", "1", "2", "3", "4", "5", "6", "7",
                                 "8", "9", "a", "b", "c", "d", "e", "f"};

// Bounded copy and append on the 40-character number buffer.
void boundedCopy(char* out, const char* s) {
    int32_t i = 0;
    for (; i < kNumberBuffer - 1 && s[i] != 0; ++i) out[i] = s[i];
    out[i] = 0;
}

void boundedAppend(char* out, const char* s) {
    int32_t len = 0;
    while (len < kNumberBuffer - 1 && out[len] != 0) ++len;
    for (int32_t i = 0; len < kNumberBuffer - 1 && s[i] != 0; ++i) out[len++] = s[i];
    out[len] = 0;
}

// Decimal digits of an integer-valued float of magnitude 2^31 or more. Every such float is an
// integer below 2^128, so it is written exactly from its mantissa and exponent, held as four
// 32-bit limbs (least significant first): 32-bit targets have no 128-bit integer type.
void renderLargeWhole(float magnitude, char* out) {
    int exponent = 0;
    float mantissa = std::frexp(magnitude, &exponent);  // magnitude = mantissa * 2^exponent
    const uint32_t bits = static_cast<uint32_t>(std::ldexp(mantissa, 24));
    const int shift = exponent - 24;  // 8 to 104: the 24 mantissa bits end below bit 128
    uint32_t limbs[4] = {0, 0, 0, 0};
    const int limb = shift / 32;
    const int offset = shift % 32;
    limbs[limb] = bits << offset;
    if (offset > 8 && limb + 1 < 4) limbs[limb + 1] = bits >> (32 - offset);
    char reversed[kNumberBuffer];
    int32_t n = 0;
    while ((limbs[0] | limbs[1] | limbs[2] | limbs[3]) != 0 && n < kNumberBuffer - 1) {
        uint64_t remainder = 0;
        for (int i = 3; i >= 0; --i) {
            const uint64_t part = (remainder << 32) | limbs[i];
            limbs[i] = static_cast<uint32_t>(part / 10);
            remainder = part % 10;
        }
        reversed[n++] = char('0' + int(remainder));
    }
    for (int32_t i = 0; i < n; ++i) out[i] = reversed[n - 1 - i];
    out[n] = 0;
}

}  // namespace

char* formatInteger(int32_t value, char* out, int32_t base) {
    if (value == 0) {
        boundedCopy(out, "0");
        return out;
    }
    if (base < 2 || base > 16 || value < 0) return nullptr;
    Stack<int> digits(10);
    while (value != 0) {
        digits.push(value % base);
        value = value / base;
    }
    boundedCopy(out, "");
    while (digits.count != 0) boundedAppend(out, kDigits[digits.pop()]);
    return out;
}

JString::JString() {
    normalize();
}

JString::JString(const char* s) {
    if (s != nullptr) appendChars(s);
    normalize();
}

JString::JString(char* s) : JString(static_cast<const char*>(s)) {}

JString::JString(const JString& other) : Vector<char>() {
    append(other);
    normalize();
}

JString& JString::operator=(const JString& src) {
    Vector<char>::operator=(src);
    return *this;
}

void JString::appendChars(const char* s) {
    for (; *s != 0; ++s) add(*s);
}

void JString::normalize() {
    if (count == 0) add(0);
    if (items[count - 1] != 0) add(0);
    int32_t limit = count < kMaxScan ? count : kMaxScan;
    for (int32_t i = 0; i < limit; ++i) {
        if (items[i] == 0) {
            count = i + 1;
            return;
        }
    }
    count = 0;
}

const char* JString::c_str() {
    normalize();
    return items;
}

JString& JString::append(const JString& other) {
    // Reading `other` by index keeps this safe when a text is appended to itself.
    int32_t n = other.count;
    for (int32_t i = 0; i < n; ++i) add(other.items[i]);
    return *this;
}

void JString::concatenate(const JString& piece) {
    if (count != 0 && items[count - 1] == 0) removeAt(count - 1);
    append(piece);
    normalize();
}

JString JString::operator+(const JString& right) const {
    JString result(*this);
    result.concatenate(right);
    return result;
}

JString JString::operator+(int32_t value) const {
    JString result(*this);
    char buffer[kNumberBuffer];
    std::memset(buffer, 0, sizeof buffer);
    if (value == INT32_MIN) {
        // Its negation does not fit in 32 bits; the digits are known.
        result.concatenate(JString("-2147483648"));
        return result;
    }
    if (value < 0) {
        result.concatenate(JString("-"));
        value = -value;
    }
    formatInteger(value, buffer, 10);
    result.concatenate(JString(buffer));
    return result;
}

JString JString::operator+(float value) const {
    JString result(*this);
    if (std::isnan(value)) {
        result.concatenate(JString("nan"));
        return result;
    }
    if (value < 0) {
        result.concatenate(JString("-"));
        value = -value;
    }
    char buffer[kNumberBuffer];
    std::memset(buffer, 0, sizeof buffer);
    if (std::isinf(value)) {
        result.concatenate(JString("inf"));
        return result;
    }
    if (value >= 2147483648.0f) {
        // Too large for a 32-bit whole part: such a float has no fraction, so its digits alone
        // are the whole rendering.
        renderLargeWhole(value, buffer);
        result.concatenate(JString(buffer));
        return result;
    }
    int32_t whole = static_cast<int32_t>(value);
    formatInteger(whole, buffer, 10);
    result.concatenate(JString(buffer));
    result.concatenate(JString("."));
    float fraction = value - static_cast<float>(whole);
    for (int i = 0; i < 3; ++i) {
        double scaled = static_cast<double>(fraction) * 10.0;
        int32_t digit = static_cast<int32_t>(scaled);
        formatInteger(digit, buffer, 10);
        result.concatenate(JString(buffer));
        fraction = static_cast<float>(scaled - digit);
    }
    return result;
}
