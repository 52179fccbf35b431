#pragma once
// The task list: one owner-drawn row per task, in queue order. Besides the item texts it
// keeps, per row index, the row's phase and progress percent, and the row's two buttons.
// Entries are keyed by index and never renumbered: after a delete, the row that moves up
// uses the entries of its new index until the next refresh rewrites them. Whether a row's task
// can be entered is different: nothing refreshes it, so it moves with its row when rows are
// deleted or inserted, and the buttons are shown and placed from it and from where their rows
// are now.
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "framework/gdi_handles.h"
#include "framework/list_ctrl.h"
#include "skin/com_body.h"
#include "skin/image.h"
#include "skin/kv_button.h"
#include "skin/offscreen.h"

enum TaskListColumn {
    kColumnName = 0,
    kColumnSize = 1,
    kColumnProgress = 2,
    kColumnSpeed = 3,
    kColumnEnterGame = 4,
    kColumnCancel = 5,
};

// What the list posts to its notify window (the dialog's WM_MY_MESSAGE_1); lParam is the row.
constexpr UINT kTaskListNotifyMessage = WM_USER + 100;
constexpr WPARAM kTaskListCancelRow = 4;
constexpr WPARAM kTaskListEnterGame = 6;
// A row phase beyond the task's own (0 downloading, 1 unpacking, 2 unpacked): its update
// failed. The bar cell says so in place of bar and percent.
constexpr int kRowPhaseFailed = 3;
// The dialog starts this timer on the list; each tick repaints the rows whose look changed.
constexpr UINT_PTR kTaskListRedrawTimer = 100;
constexpr UINT kTaskListRedrawPeriodMs = 10;

class CMavrinDlg : public CListCtrl {
public:
    CMavrinDlg();
    ~CMavrinDlg() override;

    // Configuration, once, before any row exists. The text argument of SetColors is unused.
    void SetColors(COLORREF clrRowOdd, COLORREF clrRowEven, COLORREF clrText, COLORREF clrSelBack,
                   COLORREF clrSelText, const char* unused = "");
    void LoadBarImages(HINSTANCE instance, UINT barId, UINT fillDownloadId, UINT fillInstallId);
    void SetHeaderSkin(HINSTANCE instance, UINT backId, UINT backAltId, COLORREF clrBack, COLORREF clrText,
                       int mode, UINT dividerId);
    CComBodyClass& GetHeader() { return m_header; }
    void SetCancelButtonSkin(HINSTANCE instance, UINT id);
    void SetEnterButtonSkin(HINSTANCE instance, UINT id);
    // Makes the list view measure its rows again.
    void SetRowHeight(int height);

    // Size text in KB. May be called from a download thread: posted to the list window, so
    // the caller never waits for the UI thread.
    void SetItemSize(int row, int kb);
    void SetItemSpeed(int row, float kbPerSecond);
    void SetItemProgress(int row, float fraction);
    // Phase 0 removes the row's entry. Safe from a worker thread.
    void SetItemPhase(int row, int phase);

    // The row's task can be entered (or no longer): its button shows whenever the row is in
    // view, also when the row has not been drawn yet.
    void ShowEnterButton(int row);
    void HideEnterButton(int row);
    bool IsEnterShown(int row) const { return m_setEnterRows.count(row) != 0; }
    void HideCancelButton(int row);

    int GetItemPhase(int row) const;
    // -1 when the row has no percent yet.
    int GetItemPercent(int row) const;
    int GetCurrentRow() const { return m_nCurRow; }
    int GetHotRow() const { return m_nHotRow; }
    KvButton* GetEnterButton(int row) const;
    KvButton* GetCancelButton(int row) const;

    // The owner (the dialog) forwards its WM_DRAWITEM and WM_MEASUREITEM for the list here;
    // the reflected forms reach the same code.
    BOOL OnDrawItem(const DRAWITEMSTRUCT* item);
    void OnMeasureItem(MEASUREITEMSTRUCT* item);

    virtual void DrawItem(const DRAWITEMSTRUCT& item);
    // Always true. The int is unused (callers pass 0).
    virtual bool GetItemColors(COLORREF& text, COLORREF& back, int unused, bool selected) const;
    // Sees every queued message for the list and its children (buttons, header) before it is
    // dispatched; true swallows it.
    virtual bool PreTranslateMessage(MSG* msg);
    // The list itself or one of its child windows.
    bool OwnsWindow(HWND hwnd) const;

    int m_nProgressColumn = -1;
    CWnd* m_pNotifyWnd = nullptr;

protected:
    void PreSubclassWindow() override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    // What a row showed when it was last drawn, besides its texts (setting a text repaints the
    // row through the list view itself). Only the text colour of the selection shows.
    struct RowLook {
        int phase = 0;
        int percent = 0;
        COLORREF text = 0;
        int enterState = -1;  // the button's frame; -1 when it has no visible button
        int cancelState = -1;
        bool last = false;  // the last row also paints the area below it
        bool operator==(const RowLook& other) const;
    };
    // Where the rows sit: when this changes, every row is repainted.
    struct ListLayout {
        int count = -1;
        int top = -1;
        RECT client = {};
        bool operator==(const ListLayout& other) const;
    };
    RowLook CurrentLook(int row, bool selected, bool last) const;
    ListLayout CurrentLayout() const;
    void InvalidateRows(int first, int last, int count);
    // Moves the selection to `row` alone without the list view's repaint of the rows involved:
    // the redraw timer repaints them if their look changed.
    void SelectOnly(int row);
    // Makes the selection SetItemProgress left due, unless it is already the only one.
    void SelectDueRow();
    std::vector<int> SelectedRows() const;
    bool IsRowShown(int row) const;
    // A cell set to the text it already has: nothing to change, nothing to repaint.
    bool HasItemText(int row, const LVITEMW* item) const;
    void AttachHeader();
    void OnMouseMove(LPARAM lParam);
    void OnRedrawTimer();
    // The redraw timer has nothing to do while no row is current: it rests until one is.
    void SetCurrentRow(int row);
    // The timer also rests after a tick that found nothing changed; whatever may change a row
    // on this thread wakes it.
    void WakeRedrawTimer();
    void RestRedrawTimer();
    // Draws column k's cell text (at most 29 bytes) with the given DrawText format.
    void DrawCellText(HDC dc, int row, int column, const RECT& cell, UINT format);
    void DrawPhaseText(HDC dc, int row, int phase, const RECT& cell);
    void DrawProgressCell(HDC dc, int row, int phase, const RECT& cell);
    void PlaceButtons(int row, int offset, const RECT& item, int column);
    // Creates the row's two buttons when it has none yet.
    void CreateRowButtons(int row);
    // Every button placed at its row's current position, shown only while the row is in view
    // (and, for an enter-game button, its task can be entered).
    void PlaceAllButtons();
    void PlaceButton(int row, KvButton* button, int column, int count, const RECT& rowArea);
    // The part of the client area where rows show: below the header.
    RECT RowArea() const;
    // Keeps the enter-game states with their rows when the list view deletes or inserts one.
    void OnRowDeleted(int row);
    void OnRowInserted(int row);
    void HideSurplusButtons();
    void ComposeRowButton(HDC dc, int row, bool enter);
    static void ShowButton(const std::map<int, std::unique_ptr<KvButton>>& buttons, int row, int command);

    CComBodyClass m_header;
    COLORREF m_clrRowOdd = RGB(0xC0, 0xD2, 0xD4);
    COLORREF m_clrRowEven = RGB(0xDE, 0xEC, 0xF6);
    COLORREF m_clrText = RGB(0, 0, 0);
    COLORREF m_clrSelBack = RGB(0xFF, 0xFF, 0xFF);
    COLORREF m_clrSelText = RGB(0, 0, 0);
    ScopedFont m_font;
    // The rows' drawing surface, kept between draws: the list redraws every row every 10 ms.
    std::unique_ptr<COffscreen> m_surface;
    CImage m_imgBar;
    CImage m_imgFillDownload;
    CImage m_imgFillInstall;

    mutable std::mutex m_phaseMutex;  // the worker resets a phase while the UI thread draws
    std::map<int, int> m_mapPhase;
    std::map<int, int> m_mapPercent;
    float m_fLastSpeed = 0.0f;
    int m_nCurRow = -1;
    std::map<int, std::unique_ptr<KvButton>> m_mapCancelButtons;
    std::map<int, std::unique_ptr<KvButton>> m_mapEnterButtons;
    std::set<int> m_setEnterRows;  // rows whose task can be entered
    HINSTANCE m_hCancelSkinInst = nullptr;
    UINT m_nCancelSkinId = 0;
    HINSTANCE m_hEnterSkinInst = nullptr;
    UINT m_nEnterSkinId = 0;
    bool m_bTrackMouse = true;
    int m_nHotRow = -1;
    int m_nRowHeight = 23;
    bool m_bFiltered = false;
    std::map<int, RowLook> m_mapDrawnLook;
    ListLayout m_drawnLayout;
    bool m_bTimerResting = false;
    int m_nSelectedRow = -1;  // the row SelectOnly selected last
    int m_nSelectionDue = -1;  // the row SetItemProgress selects, made when the list is next asked
};
