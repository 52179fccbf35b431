#include "skin/dc_pool.h"

#include <atomic>

#include "framework/gdi_handles.h"

namespace skin {
namespace {

// Slots are taken and filled with atomic exchanges only, so no lock is needed.
struct DcPool {
    std::atomic<HDC> slots[kDcPoolSlots] = {};

    // The pool owns the DCs resting in its slots until the process ends.
    ~DcPool() {
        for (auto& slot : slots) {
            ScopedCreateDC owned(slot.exchange(nullptr));
        }
    }
};

DcPool& Pool() {
    static DcPool pool;
    return pool;
}

}  // namespace

HDC BorrowDrawDc() {
    for (auto& slot : Pool().slots) {
        if (HDC hdc = slot.exchange(nullptr)) return hdc;
    }
    return CreateCompatibleDC(nullptr);
}

void ReturnDrawDc(HDC hdc) {
    HDC carried = hdc;
    for (auto& slot : Pool().slots) {
        if (!carried) return;
        carried = slot.exchange(carried);
    }
    ScopedCreateDC surplus(carried);
}

}  // namespace skin
