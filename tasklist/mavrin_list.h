#pragma once
// The task list: one row per task, in queue order. Besides the item texts it keeps, per row
// index, the row's phase and progress percent, and the row's two buttons. Entries are keyed
// by index and never renumbered: after a delete, the row that moves up uses the entries of
// its new index until the next refresh rewrites them.
#include <map>
#include <memory>
#include <mutex>

#include "framework/list_ctrl.h"
#include "skin/kv_button.h"

enum TaskListColumn {
    kColumnName = 0,
    kColumnSize = 1,
    kColumnProgress = 2,
    kColumnSpeed = 3,
    kColumnEnterGame = 4,
    kColumnCancel = 5,
};

class CMavrinDlg : public CListCtrl {
public:
    // Size text in KB. May be called from a download thread: the text goes through the list
    // window, so it waits (a bounded time) for the UI thread.
    void SetItemSize(int row, int kb);
    void SetItemSpeed(int row, float kbPerSecond);
    void SetItemProgress(int row, float fraction);
    // Phase 0 removes the row's entry. Safe from a worker thread.
    void SetItemPhase(int row, int phase);

    void ShowEnterButton(int row);
    void HideEnterButton(int row);
    void HideCancelButton(int row);

    int GetItemPhase(int row) const;
    // -1 when the row has no percent yet.
    int GetItemPercent(int row) const;
    int GetCurrentRow() const { return m_nCurRow; }

protected:
    mutable std::mutex m_phaseMutex;  // the worker resets a phase while the UI thread draws
    std::map<int, int> m_mapPhase;
    std::map<int, int> m_mapPercent;
    float m_fLastSpeed = 0.0f;
    int m_nCurRow = -1;
    std::map<int, std::unique_ptr<KvButton>> m_mapEnterButtons;
    std::map<int, std::unique_ptr<KvButton>> m_mapCancelButtons;
};
