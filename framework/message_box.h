#pragma once
// Every message box of the program goes through ShowMessageBox, so tests can replace the
// box with a recorder that answers for the user.
#include <windows.h>

#include <functional>
#include <string>

// text and title are GBK; returns the button pressed (IDOK, IDYES, ...).
int ShowMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type);

using MessageBoxFunction =
    std::function<int(HWND owner, const std::string& text, const std::string& title, UINT type)>;

// Installs a replacement (an empty function restores the real box); returns the one before.
MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction replacement);

// The real box: GBK text shown through the wide API.
int ShowSystemMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type);
