#include "skin/text_fit.h"

int CountTrailingHighBytes(const std::string& s, int last) {
    if (s.empty() || last < 0) return 0;
    if (last >= static_cast<int>(s.size())) last = static_cast<int>(s.size()) - 1;
    int count = 0;
    for (int i = last; i >= 0 && (static_cast<unsigned char>(s[i]) & 0x80); --i) ++count;
    return count;
}

std::string FitText(const std::string& text, int fit) {
    if (static_cast<int>(text.size()) / 2 < fit) return text;
    const int keep = 2 * fit - 6;
    std::string piece = keep < 0 ? text : text.substr(0, static_cast<size_t>(keep));
    // Both bytes of a GB2312 character have the high bit set: an odd run at the end means
    // the last byte is a lead byte whose trail byte was cut off.
    if (CountTrailingHighBytes(piece, static_cast<int>(piece.size()) - 1) % 2 == 1) piece.pop_back();
    return piece + "...";
}
