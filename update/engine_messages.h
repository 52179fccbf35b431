#pragma once
// The engine's message boxes, owned by the main window; the worker waits for the answer.
#include <string>

// Title "错误", error icon, OK.
void ShowEngineError(const std::string& text);
// Title "提示", OK, no icon.
void ShowEngineNotice(const std::string& text);
// The box text is the title; the body is empty (the unpack library's failures).
void ShowEngineErrorTitle(const std::string& title);
