#pragma once
// The process-wide pool of four memory DCs that images borrow while they draw, so a draw
// does not create a DC each time.
#include <windows.h>

namespace skin {

constexpr int kDcPoolSlots = 4;

// Takes the first DC found in the slots, or a new DC compatible with the screen when all
// slots are empty. The caller gives it back with ReturnDrawDc.
HDC BorrowDrawDc();

// Puts the DC into the first empty slot, pushing the DCs before it along; a DC pushed out
// of the last slot is deleted. The DC must have nothing of the caller's selected into it.
void ReturnDrawDc(HDC hdc);

}  // namespace skin
