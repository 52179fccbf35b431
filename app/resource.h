#pragma once
// Resource and control ids of the updater.

#define IDD_UPDATE_DIALOG 102
#define IDS_SOCKETS_INIT_FAILED 103
#define IDR_MAINFRAME 128

#define IDC_TASK_LIST 1000
#define IDC_PROGRESS 1002
#define IDC_STATUS_TEXT 1003
#define IDC_TEXT_1004 1004
#define IDC_MINIMIZE 1005
