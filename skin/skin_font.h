#pragma once
// The skin font every skinned window makes for itself: 12-pixel characters of 新宋体, GB2312.
#include <windows.h>

inline HFONT CreateSkinFont() {
    return ::CreateFontW(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, GB2312_CHARSET,
                         OUT_STROKE_PRECIS, CLIP_STROKE_PRECIS, DRAFT_QUALITY, VARIABLE_PITCH,
                         L"新宋体");
}
