#include "skin/region.h"

#include <cstring>

#include "framework/gdi_handles.h"

namespace {

constexpr DWORD kGrowth = 40;
constexpr size_t kInfoSize = sizeof(BITMAPINFOHEADER) + 3 * sizeof(DWORD);  // room for masks
constexpr size_t kInfoSizeWithPalette = sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD);

RGNDATAHEADER* Header(RegionRects& rects) {
    return reinterpret_cast<RGNDATAHEADER*>(rects.buffer.data());
}

void InitRects(RegionRects& rects, DWORD capacity) {
    rects.buffer.assign(sizeof(RGNDATAHEADER) + capacity * sizeof(RECT), 0);
    rects.capacity = capacity;
    RGNDATAHEADER* header = Header(rects);
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
}

void AddRect(RegionRects& rects, LONG left, LONG top, LONG right, LONG bottom) {
    if (Header(rects)->nCount >= rects.capacity) {
        // A new buffer with room for 40 more; header and rectangles are carried over.
        std::vector<BYTE> grown(rects.buffer.size() + kGrowth * sizeof(RECT), 0);
        std::memcpy(grown.data(), rects.buffer.data(), rects.buffer.size());
        rects.buffer.swap(grown);
        rects.capacity += kGrowth;
    }
    RGNDATAHEADER* header = Header(rects);
    RECT* slots = reinterpret_cast<RECT*>(rects.buffer.data() + sizeof(RGNDATAHEADER));
    slots[header->nCount++] = RECT{left, top, right, bottom};
}

DWORD ReadWord32(const BYTE* p) {
    DWORD value;
    std::memcpy(&value, p, sizeof(value));
    return value;
}

}  // namespace

DWORD RegionRects::Count() const {
    if (buffer.size() < sizeof(RGNDATAHEADER)) return 0;
    return reinterpret_cast<const RGNDATAHEADER*>(buffer.data())->nCount;
}

const RECT* RegionRects::Rects() const {
    return buffer.size() < sizeof(RGNDATAHEADER)
               ? nullptr
               : reinterpret_cast<const RECT*>(buffer.data() + sizeof(RGNDATAHEADER));
}

DWORD KeyInPixelFormat(COLORREF key, int bitsPerPixel) {
    const DWORD red = GetRValue(key), green = GetGValue(key), blue = GetBValue(key);
    if (bitsPerPixel == 16) return (red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3);
    return red << 16 | green << 8 | blue;
}

RegionRects CollectSolidRuns(HBITMAP bitmap, COLORREF key) {
    RegionRects rects;
    InitRects(rects, 0);
    BITMAP bm{};
    if (!bitmap || !GetObjectW(bitmap, sizeof(bm), &bm) || bm.bmWidth <= 0 || bm.bmHeight == 0)
        return rects;
    const int height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    InitRects(rects, height);

    // First ask for the format only: size, depth, compression and masks.
    std::vector<BYTE> info(kInfoSize, 0);
    auto* header = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    header->biSize = sizeof(BITMAPINFOHEADER);
    ScopedCreateDC ic(CreateICW(L"DISPLAY", nullptr, nullptr, nullptr));
    if (!ic.IsValid() ||
        !GetDIBits(ic.Get(), bitmap, 0, height, nullptr, reinterpret_cast<BITMAPINFO*>(info.data()),
                   DIB_RGB_COLORS))
        return rects;
    const int bitCount = header->biBitCount;
    const int rowStep = (bm.bmWidthBytes + 3) & ~3;
    DWORD imageSize = header->biSizeImage;
    if (imageSize < static_cast<DWORD>(rowStep) * height) imageSize = rowStep * height;
    // A 24-bit pixel is read as a 32-bit word, the last one too.
    std::vector<BYTE> pixels(imageSize + 4, 0);

    if (bitCount == 8) {
        std::vector<BYTE> withPalette(kInfoSizeWithPalette, 0);
        std::memcpy(withPalette.data(), info.data(), 44);
        info.swap(withPalette);
        header = reinterpret_cast<BITMAPINFOHEADER*>(info.data());
    }
    const bool bottomUp = header->biHeight > 0;
    if (!GetDIBits(ic.Get(), bitmap, 0, height, pixels.data(),
                   reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS))
        return rects;
    ic.Close();

    const DWORD keyPixel = KeyInPixelFormat(key, bitCount);
    const auto* palette = reinterpret_cast<const RGBQUAD*>(info.data() + sizeof(BITMAPINFOHEADER));
    const int bytesPerPixel = bitCount / 8;
    for (int y = 0; y < height; ++y) {
        const BYTE* row = pixels.data() + static_cast<size_t>(bottomUp ? height - 1 - y : y) * rowStep;
        int runStart = -1;
        for (int x = 0; x < bm.bmWidth; ++x) {
            const BYTE* p = row + x * bytesPerPixel;
            bool solid = false;
            switch (bitCount) {
            case 8: {
                const RGBQUAD& c = palette[*p];
                solid = (static_cast<DWORD>(c.rgbRed) << 16 | c.rgbGreen << 8 | c.rgbBlue) != keyPixel;
                break;
            }
            case 16: solid = (p[0] | p[1] << 8) != static_cast<int>(keyPixel); break;
            case 24: solid = (ReadWord32(p) & 0x00FFFFFF) != keyPixel; break;
            case 32: solid = ReadWord32(p) != keyPixel; break;
            default: break;
            }
            if (solid && runStart < 0) {
                runStart = x;
            } else if (!solid && runStart >= 0) {
                AddRect(rects, runStart, y, x, y + 1);
                runStart = -1;
            }
        }
        if (runStart >= 0) AddRect(rects, runStart, y, bm.bmWidth, y + 1);
    }
    return rects;
}

HRGN CreateRegionFromBitmap(HBITMAP bitmap, COLORREF key) {
    RegionRects rects = CollectSolidRuns(bitmap, key);
    const DWORD size = sizeof(RGNDATAHEADER) + rects.Count() * sizeof(RECT);
    HRGN region = ExtCreateRegion(nullptr, size, reinterpret_cast<const RGNDATA*>(rects.buffer.data()));
    return region ? region : CreateRectRgn(0, 0, 0, 0);
}
