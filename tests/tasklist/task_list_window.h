#pragma once
// A visible owner-drawn task list configured as the dialog configures it, in a frame that
// forwards WM_DRAWITEM and WM_MEASUREITEM to it, and a window that records what the list posts.
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <utility>
#include <vector>

#include "framework/scoped_handle.h"
#include "tasklist/mavrin_list.h"

class NotifyRecorder : public CWnd {
public:
    NotifyRecorder();
    ~NotifyRecorder() override;
    std::vector<std::pair<WPARAM, LPARAM>> posts;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

class TaskListWindow {
public:
    static constexpr int kLeft = 60;
    static constexpr int kTop = 80;

    // `skinned`: the dialog's colours, bar images, header skin and button skins.
    explicit TaskListWindow(bool skinned = true);
    ~TaskListWindow();
    TaskListWindow(const TaskListWindow&) = delete;
    TaskListWindow& operator=(const TaskListWindow&) = delete;

    CMavrinDlg& List() { return m_list; }
    NotifyRecorder& Notify() { return m_notify; }
    HMODULE Skin() const { return m_skin.Get(); }

    // Repaints the whole list now, row buttons included.
    void Redraw();
    COLORREF Pixel(int x, int y);
    RECT RowRect(int row);
    // The item rectangle of the row's last WM_DRAWITEM: where the list placed the cells.
    RECT DrawnRect(int row) { return m_drawn[row]; }
    // The button's window rectangle in list client coordinates.
    RECT ButtonRect(KvButton* button);
    static void Pump(DWORD ms);
    // Selection changes the list view has notified so far.
    int SelectionChanges() const { return m_selectionChanges; }

private:
    static LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    std::map<int, RECT> m_drawn;
    int m_selectionChanges = 0;
    ScopedModule m_skin;
    HWND m_frame = nullptr;
    CMavrinDlg m_list;
    NotifyRecorder m_notify;
};
