#include "tests/support/test_list_window.h"

#include <commctrl.h>

TestListWindow::TestListWindow() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    m_frame = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 200, nullptr, nullptr, nullptr, nullptr);
    HWND list = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 531, 104, m_frame,
                                  nullptr, nullptr, nullptr);
    m_list.SubclassWindow(list);
    const char* titles[] = {"任务名", "大小(KB)", "进度", "速度(KB/S)", "进入游戏", "取消"};
    const int widths[] = {85, 60, 170, 80, 60, 76};
    for (int i = 0; i < 6; ++i) m_list.InsertColumn(i, titles[i], LVCFMT_CENTER, widths[i]);
}

TestListWindow::~TestListWindow() {
    // The frame owns the list window and takes it along.
    if (m_frame != nullptr) ::DestroyWindow(m_frame);
}
