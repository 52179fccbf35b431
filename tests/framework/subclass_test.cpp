// Binding a window to an object: its messages reach the object's WindowProc first, what the
// object leaves reaches the window's own procedure, and unbinding puts everything back.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/wnd.h"

namespace {

constexpr UINT kPing = WM_APP + 1;

class Recorder : public CWnd {
public:
    std::vector<UINT> seen;
    LRESULT answer = 0;
    bool handlePing = true;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        seen.push_back(message);
        if (message == kPing && handlePing) return answer;
        return DefWindowProc(message, wParam, lParam);
    }
};

HWND MakeStatic(const wchar_t* text) {
    return ::CreateWindowExW(0, L"STATIC", text, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}

std::wstring TextOf(HWND hwnd) {
    wchar_t buffer[64] = {};
    ::GetWindowTextW(hwnd, buffer, 64);
    return buffer;
}

// Another subclass in the chain, set up the classic way after ours.
WNDPROC g_outerSuper = nullptr;
int g_outerCalls = 0;
LRESULT CALLBACK OuterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    ++g_outerCalls;
    return ::CallWindowProcW(g_outerSuper, hwnd, message, wParam, lParam);
}

TEST(Subclass, MessagesReachTheObjectAndWhatItLeavesReachesTheWindow) {
    HWND hwnd = MakeStatic(L"before");
    Recorder object;
    ASSERT_TRUE(object.SubclassWindow(hwnd));
    EXPECT_EQ(hwnd, object.GetSafeHwnd());
    object.answer = 42;
    EXPECT_EQ(42, ::SendMessageW(hwnd, kPing, 0, 0));
    // Not handled by the object: the static control still keeps its text.
    ::SetWindowTextW(hwnd, L"after");
    EXPECT_EQ(L"after", TextOf(hwnd));
    EXPECT_FALSE(object.SubclassWindow(hwnd)) << "bound once";
    ::DestroyWindow(hwnd);
}

TEST(Subclass, UnbindingRestoresTheWindowsOwnProcedure) {
    HWND hwnd = MakeStatic(L"x");
    const LONG_PTR original = ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC);
    {
        Recorder object;
        ASSERT_TRUE(object.SubclassWindow(hwnd));
        EXPECT_NE(original, ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
        object.UnsubclassWindow();
        EXPECT_EQ(original, ::GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
        const size_t before = object.seen.size();
        ::SendMessageW(hwnd, kPing, 0, 0);
        EXPECT_EQ(before, object.seen.size());
    }
    // The object is gone and the window lives on.
    EXPECT_EQ(0, ::SendMessageW(hwnd, kPing, 0, 0));
    Recorder again;
    EXPECT_TRUE(again.SubclassWindow(hwnd)) << "a window can be bound again";
    again.answer = 7;
    EXPECT_EQ(7, ::SendMessageW(hwnd, kPing, 0, 0));
    ::DestroyWindow(hwnd);
}

TEST(Subclass, AnObjectGoneUnderAnotherSubclassLeavesTheChainWorking) {
    HWND hwnd = MakeStatic(L"x");
    auto* object = new Recorder;
    ASSERT_TRUE(object->SubclassWindow(hwnd));
    g_outerCalls = 0;
    g_outerSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OuterProc)));
    delete object;  // cannot take its procedure out from under OuterProc
    ::SetWindowTextW(hwnd, L"still works");
    EXPECT_EQ(L"still works", TextOf(hwnd));
    EXPECT_GT(g_outerCalls, 0);
    ::DestroyWindow(hwnd);
}

TEST(Subclass, DestroyingTheWindowDetachesTheObject) {
    HWND hwnd = MakeStatic(L"x");
    Recorder object;
    ASSERT_TRUE(object.SubclassWindow(hwnd));
    ::DestroyWindow(hwnd);
    EXPECT_EQ(nullptr, object.GetSafeHwnd());
    EXPECT_NE(object.seen.end(), std::find(object.seen.begin(), object.seen.end(), static_cast<UINT>(WM_DESTROY)));
    // A new window (which may reuse the handle value) is not bound to the old object.
    HWND other = MakeStatic(L"y");
    const size_t before = object.seen.size();
    ::SendMessageW(other, kPing, 0, 0);
    EXPECT_EQ(before, object.seen.size());
    EXPECT_TRUE(object.SubclassWindow(other));
    ::DestroyWindow(other);
}

}  // namespace
