#pragma once
// DIB sections of a chosen depth whose pixels tests can write and read directly.
#include <windows.h>

#include <cstring>
#include <vector>

#include "framework/gdi_handles.h"

class DibCanvas {
public:
    // A top-down DIB section; at 16 bits the pixels are 5-6-5, at 8 bits `palette` is used.
    DibCanvas(int width, int height, int bitsPerPixel, const std::vector<RGBQUAD>& palette = {})
        : m_width(width), m_height(height), m_bits(bitsPerPixel) {
        struct {
            BITMAPINFOHEADER header;
            DWORD extra[256];
        } info{};
        info.header.biSize = sizeof(BITMAPINFOHEADER);
        info.header.biWidth = width;
        info.header.biHeight = -height;
        info.header.biPlanes = 1;
        info.header.biBitCount = static_cast<WORD>(bitsPerPixel);
        info.header.biCompression = BI_RGB;
        if (bitsPerPixel == 16) {
            info.header.biCompression = BI_BITFIELDS;
            info.extra[0] = 0xF800;
            info.extra[1] = 0x07E0;
            info.extra[2] = 0x001F;
        } else if (bitsPerPixel == 8) {
            info.header.biClrUsed = static_cast<DWORD>(palette.size());
            for (size_t i = 0; i < palette.size() && i < 256; ++i)
                std::memcpy(&info.extra[i], &palette[i], sizeof(RGBQUAD));
        }
        void* bits = nullptr;
        m_bitmap.Reset(CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                        &bits, nullptr, 0));
        m_pixels = static_cast<BYTE*>(bits);
        m_stride = ((width * bitsPerPixel + 31) / 32) * 4;
    }

    HBITMAP Get() const { return m_bitmap.Get(); }
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Writes the raw pixel value: a palette index, a 5-6-5 word, or 0x(AA)RRGGBB.
    void SetRaw(int x, int y, DWORD value) {
        BYTE* p = m_pixels + y * m_stride + x * m_bits / 8;
        for (int i = 0; i < m_bits / 8; ++i) p[i] = static_cast<BYTE>(value >> (8 * i));
    }
    void FillRaw(DWORD value) {
        for (int y = 0; y < m_height; ++y)
            for (int x = 0; x < m_width; ++x) SetRaw(x, y, value);
    }
    // 24 and 32 bits only: the pixel as a COLORREF.
    COLORREF Pixel(int x, int y) const {
        const BYTE* p = m_pixels + y * m_stride + x * m_bits / 8;
        return RGB(p[2], p[1], p[0]);
    }

private:
    int m_width;
    int m_height;
    int m_bits;
    int m_stride;
    BYTE* m_pixels = nullptr;
    ScopedBitmap m_bitmap;
};

// A pixel of a 24-bit DIB section (such as a loaded skin bitmap), top row first.
inline COLORREF DibSectionPixel(HBITMAP bitmap, int x, int y) {
    DIBSECTION dib{};
    ::GetObjectW(bitmap, sizeof(dib), &dib);
    const BYTE* row = static_cast<const BYTE*>(dib.dsBm.bmBits) +
                      static_cast<size_t>(dib.dsBm.bmHeight - 1 - y) * dib.dsBm.bmWidthBytes;
    return RGB(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
}
