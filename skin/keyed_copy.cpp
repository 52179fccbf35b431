#include "skin/keyed_copy.h"

#include "skin/skin_ids.h"

namespace {
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);

// Sets a DC's text and background colours for a blit from a one-bit source (0 bits take the
// text colour, 1 bits the background colour) and puts them back afterwards.
class ScopedMonoColours {
public:
    ScopedMonoColours(HDC dc, COLORREF zeroBits, COLORREF oneBits)
        : m_dc(dc), m_text(::SetTextColor(dc, zeroBits)), m_back(::SetBkColor(dc, oneBits)) {}
    ~ScopedMonoColours() {
        ::SetTextColor(m_dc, m_text);
        ::SetBkColor(m_dc, m_back);
    }
    ScopedMonoColours(const ScopedMonoColours&) = delete;
    ScopedMonoColours& operator=(const ScopedMonoColours&) = delete;

private:
    HDC m_dc;
    COLORREF m_text;
    COLORREF m_back;
};
}  // namespace

CKeyedCopy::CKeyedCopy(COffscreen& surface) : m_surface(surface) {
    if (!surface.IsValid()) return;
    const int width = surface.Width();
    const int height = surface.Height();
    m_mask.Reset(::CreateBitmap(width, height, 1, 1, nullptr));
    m_maskDc.Reset(::CreateCompatibleDC(surface.Dc()));
    if (!m_mask.IsValid() || !m_maskDc.IsValid()) return;
    m_hOldMask = ::SelectObject(m_maskDc.Get(), m_mask.Get());
    // Colour to one bit: pixels of the source's background colour become 1, all others 0.
    const COLORREF back = ::SetBkColor(surface.Dc(), kSkinKeyColour);
    const BOOL masked = ::BitBlt(m_maskDc.Get(), 0, 0, width, height, surface.Dc(), 0, 0, SRCCOPY);
    ::SetBkColor(surface.Dc(), back);
    if (!masked) return;
    // Key pixels to black, the rest unchanged.
    ScopedMonoColours colours(surface.Dc(), kWhite, kBlack);
    m_bValid = ::BitBlt(surface.Dc(), 0, 0, width, height, m_maskDc.Get(), 0, 0, SRCAND) != FALSE;
}

CKeyedCopy::~CKeyedCopy() {
    if (m_maskDc.IsValid() && m_hOldMask) ::SelectObject(m_maskDc.Get(), m_hOldMask);
    m_maskDc.Close();
    m_mask.Close();
}

BOOL CKeyedCopy::CopyTo(HDC target, int x, int y) const {
    if (!m_bValid || !target) return FALSE;
    const int width = m_surface.Width();
    const int height = m_surface.Height();
    {
        // Clear the target where the surface has its own pixels, keep it under the key.
        ScopedMonoColours colours(target, kBlack, kWhite);
        if (!::BitBlt(target, x, y, width, height, m_maskDc.Get(), 0, 0, SRCAND)) return FALSE;
    }
    return ::BitBlt(target, x, y, width, height, m_surface.Dc(), 0, 0, SRCPAINT);
}
