#pragma once
// The one place where trace lines are formatted. A line is the operation's name, then its
// arguments, then " ->" and what the call returned; tokens are separated by single spaces and
// compound values (records, matrices, vertices, lists) are bracketed. docs/trace.md describes
// the format.
#include <cstdint>
#include <string>
#include <type_traits>

#include "backend/platform_types.h"

// Single values, as they appear in a line.
std::string formatFloat(float value);       // 9 significant digits, shortest form
std::string formatColour(D3DCOLOR colour);  // 0xAARRGGBB
std::string formatHex(uint32_t value);      // 0xXXXXXXXX
std::string formatResult(HRESULT result);   // success in decimal, failure as 0xXXXXXXXX
std::string formatText(const char* text);   // quoted with C escapes, or NULL
std::string formatText(const char* text, int32_t count);  // count < 0: zero-terminated

class TraceLine {
  public:
    explicit TraceLine(const char* operation);

    TraceLine& integer(int64_t value);
    TraceLine& natural(uint64_t value);
    TraceLine& real(float value);
    TraceLine& colour(D3DCOLOR value);
    TraceLine& hex(uint32_t value);
    TraceLine& result(HRESULT value);
    TraceLine& text(const char* value);
    TraceLine& text(const char* value, int32_t count);
    // A bare token: an object's label, NULL, none.
    TraceLine& word(const std::string& value);
    // A pointer the recorder cannot describe: ptr, or NULL.
    TraceLine& pointer(const void* value);
    // Whole numbers in decimal, signed or unsigned as the program holds each.
    template <class... Numbers>
    TraceLine& numbers(Numbers... values) {
        (number(values), ...);
        return *this;
    }

    TraceLine& matrix(const D3DXMATRIX* value);
    TraceLine& point(const POINT& value);
    TraceLine& rect(const RECT* value);
    TraceLine& message(const MSG& value, const std::string& windowLabel);

    TraceLine& open();
    TraceLine& close();
    // Separates the arguments from the result and what the call wrote back.
    TraceLine& arrow();

    const std::string& str() const { return text_; }

  private:
    TraceLine& token(const std::string& value);
    template <class Number>
    void number(Number value) {
        static_assert(std::is_integral_v<Number> && !std::is_same_v<Number, bool>,
                      "a flag or a value of another kind has its own token");
        if constexpr (std::is_signed_v<Number>) {
            integer(value);
        } else {
            natural(value);
        }
    }

    std::string text_;
    bool needSpace_ = true;
};
