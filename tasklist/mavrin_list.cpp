#include "tasklist/mavrin_list.h"

#include <commctrl.h>

#include "framework/gbk_text.h"
#include "tasklist/row_format.h"

namespace {
constexpr UINT kCrossThreadWaitMs = 5000;

void ShowButton(const std::map<int, std::unique_ptr<KvButton>>& buttons, int row, int command) {
    auto found = buttons.find(row);
    if (found != buttons.end() && found->second) found->second->ShowWindow(command);
}
}  // namespace

void CMavrinDlg::SetItemSize(int row, int kb) {
    if (m_hWnd == nullptr) return;
    std::wstring text = GbkToWide(SizeText(kb));
    LVITEMW item = {};
    item.iSubItem = kColumnSize;
    item.pszText = &text[0];
    // Bounded, so a download never hangs on a UI thread that is itself waiting.
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(m_hWnd, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item),
                          SMTO_NORMAL, kCrossThreadWaitMs, &result);
}

void CMavrinDlg::SetItemSpeed(int row, float kbPerSecond) {
    if (kbPerSecond != m_fLastSpeed) {
        m_fLastSpeed = kbPerSecond;
        SetItemText(row, kColumnSpeed, SpeedText(kbPerSecond));
    }
    if (kbPerSecond == 0.0f) SetItemText(row, kColumnSpeed, "");
}

void CMavrinDlg::SetItemProgress(int row, float fraction) {
    if (row != m_nCurRow) {
        m_nCurRow = row;
        SetItemState(-1, 0, LVIS_SELECTED);
        SetItemState(row, LVIS_SELECTED, LVIS_SELECTED);
    }
    m_mapPercent[row] = ProgressPercent(fraction);
}

void CMavrinDlg::SetItemPhase(int row, int phase) {
    std::lock_guard<std::mutex> lock(m_phaseMutex);
    if (phase != 0) {
        m_mapPhase[row] = phase;
    } else {
        m_mapPhase.erase(row);
    }
}

int CMavrinDlg::GetItemPhase(int row) const {
    std::lock_guard<std::mutex> lock(m_phaseMutex);
    auto found = m_mapPhase.find(row);
    return found == m_mapPhase.end() ? 0 : found->second;
}

int CMavrinDlg::GetItemPercent(int row) const {
    auto found = m_mapPercent.find(row);
    return found == m_mapPercent.end() ? -1 : found->second;
}

void CMavrinDlg::ShowEnterButton(int row) { ShowButton(m_mapEnterButtons, row, SW_SHOW); }

void CMavrinDlg::HideEnterButton(int row) { ShowButton(m_mapEnterButtons, row, SW_HIDE); }

void CMavrinDlg::HideCancelButton(int row) { ShowButton(m_mapCancelButtons, row, SW_HIDE); }
