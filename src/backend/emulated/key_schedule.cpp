#include "backend/emulated/key_schedule.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "backend/input.h"

namespace {

struct KeyName {
    const char* name;
    int scanCode;
};

constexpr KeyName kKeyNames[] = {
    {"F1", DIK_F1},           {"F2", DIK_F2},         {"F3", DIK_F3},          {"F4", DIK_F4},
    {"NUMLOCK", DIK_NUMLOCK}, {"DIVIDE", DIK_DIVIDE}, {"ESCAPE", kScanEscape},
};

bool sameName(const char* a, size_t length, const char* b) {
    if (std::strlen(b) != length) return false;
    for (size_t i = 0; i < length; ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
    }
    return true;
}

// The show time (whole milliseconds after the music's start) at which a press is due.
uint64_t dueMs(const KeyPress& press) {
    return static_cast<uint64_t>(std::llround(press.seconds * 1000.0));
}

}  // namespace

int showKeyScanCode(const char* name, size_t length) {
    if (name == nullptr) return 0;
    for (const KeyName& key : kKeyNames) {
        if (sameName(name, length, key.name)) return key.scanCode;
    }
    return 0;
}

bool parseKeyPress(const char* text, KeyPress* press) {
    if (text == nullptr || press == nullptr) return false;
    const char* at = std::strchr(text, '@');
    if (at == nullptr) return false;
    const int scanCode = showKeyScanCode(text, static_cast<size_t>(at - text));
    if (scanCode == 0) return false;
    const char* number = at + 1;
    // Digits and at most one point: no signs, exponents, spaces or words such as "inf".
    bool digit = false;
    int points = 0;
    for (const char* c = number; *c != '\0'; ++c) {
        if (std::isdigit(static_cast<unsigned char>(*c))) {
            digit = true;
        } else if (*c == '.' && points == 0) {
            ++points;
        } else {
            return false;
        }
    }
    if (!digit) return false;
    double seconds = std::strtod(number, nullptr);
    // Beyond any show's length, and safely inside the range of whole milliseconds.
    if (!(seconds <= 1.0e9)) return false;
    press->scanCode = scanCode;
    press->seconds = seconds;
    return true;
}

KeySchedule::KeySchedule(std::vector<KeyPress> presses) : pending_(std::move(presses)) {
    std::stable_sort(pending_.begin(), pending_.end(),
                     [](const KeyPress& a, const KeyPress& b) { return dueMs(a) < dueMs(b); });
}

int KeySchedule::takeDueEscapes(bool musicStarted, uint64_t showMs) {
    int due = 0;
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->scanCode == kScanEscape && musicStarted && dueMs(*it) <= showMs) {
            ++due;
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}

void KeySchedule::applyDue(BYTE keys[256], bool musicStarted, uint64_t showMs) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        if (dueMs(*it) > showMs || !musicStarted) break;
        BYTE& key = keys[it->scanCode & 0xFF];
        if (it->scanCode != kScanEscape && key == 0 && lastKeys_[it->scanCode & 0xFF] == 0) {
            key = 0x80;
            it = pending_.erase(it);
        } else {
            ++it;
        }
    }
    std::memcpy(lastKeys_, keys, 256);
}
