#include "update/engine_messages.h"

#include <windows.h>

#include "framework/message_box.h"
#include "process/process_values.h"

void ShowEngineError(const std::string& text) { ShowMessageBox(g_hMainWnd, text, "错误", MB_OK | MB_ICONERROR); }

void ShowEngineNotice(const std::string& text) { ShowMessageBox(g_hMainWnd, text, "提示", MB_OK); }

void ShowEngineErrorTitle(const std::string& title) { ShowMessageBox(g_hMainWnd, "", title, MB_OK | MB_ICONERROR); }
