#pragma once
// Bitmap resource ids of the skin, as the updater's resource script numbers them.

enum SkinBitmapId : unsigned {
    IDB_HEADER_BACK = 129,     // 10 x 23, list header column background
    IDB_TITLE_BAR = 130,       // 537 x 35
    IDB_CLOSE = 133,           // 144 x 26, four frames of 36 x 26
    IDB_BAR = 134,             // 135 x 12, progress bar background
    IDB_FILL_DOWNLOAD = 135,   // 1 x 12, progress tile while downloading
    IDB_MINIMISE = 136,        // 112 x 26, four frames of 28 x 26
    IDB_BOTTOM_BAR = 139,      // 537 x 43
    IDB_HEADER_DIVIDER = 140,  // 2 x 18
    IDB_BORDER_LEFT = 141,     // 3 x 23, stretched beside the list
    IDB_BORDER_RIGHT = 142,    // 3 x 23
    IDB_ROW_CANCEL = 144,      // 60 x 13, four frames of 15 x 13
    IDB_FILL_INSTALL = 146,    // 1 x 12, progress tile while installing
    IDB_ROW_ENTER = 148,       // 60 x 13, four frames of 15 x 13
};

// The skin key colour: pixels of exactly this colour show what lies beneath.
constexpr unsigned long kSkinKeyColour = 0x00FF00FF;
