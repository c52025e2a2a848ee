#include "platform/font_writer.h"

FontWriter::FontWriter(Direct3DDevice9* device, int areaWidth, int areaHeight, const char* faceName,
                       int fontHeight, UINT fontWidth, UINT weight, bool italic)
    : font(nullptr), area{0, 0, areaWidth, areaHeight} {
    D3DXCreateFontA(device, fontHeight, fontWidth, weight, 0, italic ? TRUE : FALSE,
                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, DEFAULT_QUALITY,
                    DEFAULT_PITCH | FF_DONTCARE, faceName, &font);
}

FontWriter::~FontWriter() {
    if (font != nullptr) {
        font->Release();
        font = nullptr;
    }
}

int FontWriter::draw(const char* text, int x, int y, D3DCOLOR colour) {
    if (font == nullptr) return 0;
    RECT rectangle = {x, y, area.right, area.bottom};
    return font->DrawTextA(text, -1, &rectangle, DT_LEFT | DT_TOP, colour);
}
