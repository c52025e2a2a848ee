#include "backend/recording/trace_format.h"

#include <charconv>
#include <cstdio>

std::string formatFloat(float value) {
    char buffer[48];
    auto end = std::to_chars(buffer, buffer + sizeof(buffer), value, std::chars_format::general, 9);
    return std::string(buffer, end.ptr);
}

std::string formatHex(uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof(buffer), "0x%08X", static_cast<unsigned>(value));
    return buffer;
}

std::string formatColour(D3DCOLOR colour) {
    return formatHex(colour);
}

std::string formatResult(HRESULT result) {
    if (result >= 0) return std::to_string(result);
    return formatHex(static_cast<uint32_t>(result));
}

std::string formatText(const char* text) {
    return formatText(text, -1);
}

std::string formatText(const char* text, int32_t count) {
    if (text == nullptr) return "NULL";
    std::string out = "\"";
    for (int32_t i = 0; count < 0 ? text[i] != '\0' : i < count; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

TraceLine::TraceLine(const char* operation) : text_(operation) {}

TraceLine& TraceLine::token(const std::string& value) {
    if (needSpace_) text_ += ' ';
    text_ += value;
    needSpace_ = true;
    return *this;
}

TraceLine& TraceLine::integer(int64_t value) {
    return token(std::to_string(value));
}
TraceLine& TraceLine::natural(uint64_t value) {
    return token(std::to_string(value));
}
TraceLine& TraceLine::real(float value) {
    return token(formatFloat(value));
}
TraceLine& TraceLine::colour(D3DCOLOR value) {
    return token(formatColour(value));
}
TraceLine& TraceLine::hex(uint32_t value) {
    return token(formatHex(value));
}
TraceLine& TraceLine::result(HRESULT value) {
    return token(formatResult(value));
}
TraceLine& TraceLine::text(const char* value) {
    return token(formatText(value));
}
TraceLine& TraceLine::text(const char* value, int32_t count) {
    return token(formatText(value, count));
}
TraceLine& TraceLine::word(const std::string& value) {
    return token(value);
}
TraceLine& TraceLine::pointer(const void* value) {
    return token(value ? "ptr" : "NULL");
}

TraceLine& TraceLine::matrix(const D3DXMATRIX* value) {
    if (value == nullptr) return word("NULL");
    open();
    for (const auto& row : value->m) {
        for (float element : row) real(element);
    }
    return close();
}

TraceLine& TraceLine::point(const POINT& value) {
    return open().integer(value.x).integer(value.y).close();
}

TraceLine& TraceLine::rect(const RECT* value) {
    if (value == nullptr) return word("NULL");
    return open()
        .integer(value->left)
        .integer(value->top)
        .integer(value->right)
        .integer(value->bottom)
        .close();
}

TraceLine& TraceLine::message(const MSG& value, const std::string& windowLabel) {
    return open()
        .word(windowLabel)
        .natural(value.message)
        .natural(value.wParam)
        .integer(value.lParam)
        .natural(value.time)
        .integer(value.pt.x)
        .integer(value.pt.y)
        .close();
}

TraceLine& TraceLine::open() {
    if (needSpace_) text_ += ' ';
    text_ += '[';
    needSpace_ = false;
    return *this;
}

TraceLine& TraceLine::close() {
    text_ += ']';
    needSpace_ = true;
    return *this;
}

TraceLine& TraceLine::arrow() {
    return token("->");
}
