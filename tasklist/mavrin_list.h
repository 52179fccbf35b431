#pragma once
// The task list: one row per task in a report list view.
#include "framework/controls.h"

class CMavrinDlg : public CListCtrl {};
