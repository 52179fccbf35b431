#include "tests/tasklist/task_list_window.h"

#include "framework/message_filters.h"
#include "tests/skin/updater_module.h"

namespace {
constexpr wchar_t kFrameClass[] = L"TaskListTestFrame";

void RegisterFrameClass(WNDPROC proc) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kFrameClass;
    wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH));
    ::RegisterClassW(&wc);  // fails harmlessly when already registered
}
}  // namespace

NotifyRecorder::NotifyRecorder() {
    SubclassWindow(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr));
}

NotifyRecorder::~NotifyRecorder() {
    HWND hwnd = m_hWnd;
    UnsubclassWindow();
    if (hwnd) ::DestroyWindow(hwnd);
}

LRESULT NotifyRecorder::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kTaskListNotifyMessage) {
        posts.emplace_back(wParam, lParam);
        return 0;
    }
    return DefWindowProc(message, wParam, lParam);
}

TaskListWindow::TaskListWindow(bool skinned) : m_skin(LoadUpdaterAsData()) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    RegisterFrameClass(FrameProc);
    // Out of the cursor's way: stray mouse moves would change the hot row.
    ::SetCursorPos(5, 5);
    m_frame = ::CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, kFrameClass, L"", WS_POPUP, kLeft, kTop, 537,
                                140, nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    ::SetWindowLongPtrW(m_frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    HWND list = ::CreateWindowExW(0, WC_LISTVIEWW, L"",
                                  WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_OWNERDRAWFIXED, 0, 0, 531,
                                  104, m_frame, reinterpret_cast<HMENU>(1000), nullptr, nullptr);
    m_list.SubclassWindow(list);
    if (skinned) {
        m_list.SetColors(RGB(242, 243, 246), RGB(220, 235, 246), RGB(0, 0, 0), RGB(163, 240, 233), RGB(0, 0, 0), "");
        m_list.m_nProgressColumn = 2;
        m_list.LoadBarImages(Skin(), 134, 135, 146);
    }
    const char* titles[] = {"任务名", "大小(KB)", "进度", "速度(KB/S)", "进入游戏", "取消"};
    const int widths[] = {85, 60, 170, 80, 60, 76};
    for (int i = 0; i < 6; ++i) m_list.InsertColumn(i, titles[i], LVCFMT_CENTER, widths[i]);
    if (skinned) {
        m_list.GetHeader().SetSkin(Skin(), 129, 129, RGB(218, 221, 228), RGB(4, 73, 142), 1, 140);
        m_list.SetCancelButtonSkin(Skin(), 144);
        m_list.SetEnterButtonSkin(Skin(), 148);
    }
    m_list.m_pNotifyWnd = &m_notify;
    m_list.SetRowHeight(23);
    ::ShowWindow(m_frame, SW_SHOWNOACTIVATE);
    Pump(20);
}

TaskListWindow::~TaskListWindow() {
    if (m_frame) {
        ::SetWindowLongPtrW(m_frame, GWLP_USERDATA, 0);
        ::DestroyWindow(m_frame);
    }
}

LRESULT CALLBACK TaskListWindow::FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TaskListWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    CMavrinDlg* list = self ? &self->m_list : nullptr;
    if (list && wParam == 1000) {
        if (message == WM_DRAWITEM) {
            const auto* item = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
            self->m_drawn[static_cast<int>(item->itemID)] = item->rcItem;
            return list->OnDrawItem(item);
        }
        if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == LVN_ITEMCHANGED) {
            const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
            if ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) ++self->m_selectionChanges;
        }
        if (message == WM_MEASUREITEM) {
            list->OnMeasureItem(reinterpret_cast<MEASUREITEMSTRUCT*>(lParam));
            return TRUE;
        }
    }
    return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

void TaskListWindow::Redraw() {
    // Twice: the first pass creates the row buttons, the second composes them into the rows.
    for (int pass = 0; pass < 2; ++pass) {
        ::RedrawWindow(m_list.GetSafeHwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Pump(20);
    }
}

COLORREF TaskListWindow::Pixel(int x, int y) {
    ScopedGetDC dc(m_list.GetSafeHwnd());
    return ::GetPixel(dc.Get(), x, y);
}

RECT TaskListWindow::RowRect(int row) {
    RECT rect = {LVIR_BOUNDS, 0, 0, 0};
    ::SendMessageW(m_list.GetSafeHwnd(), LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(&rect));
    return rect;
}

RECT TaskListWindow::ButtonRect(KvButton* button) {
    RECT rect{};
    ::GetWindowRect(button->GetSafeHwnd(), &rect);
    ::MapWindowPoints(nullptr, m_list.GetSafeHwnd(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void TaskListWindow::Pump(DWORD ms) {
    const DWORD start = ::GetTickCount();
    do {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            // As the program's own loops do: the list sees its messages first.
            if (RunMessageFilters(&msg)) continue;
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    } while (::GetTickCount() - start < ms);
}
