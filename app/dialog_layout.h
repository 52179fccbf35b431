#pragma once
// Numbers of the dialog's form that its parts agree on.

constexpr int kCancelColumnWide = 75;
constexpr int kCancelColumnNarrow = 59;   // room for the list's scroll bar
constexpr int kRowsWithoutScrollBar = 3;
constexpr int kDragBandHeight = 40;
constexpr unsigned kAutoCloseMs = 1000;
constexpr unsigned kEnterFirstGameMs = 10000;
// The automatic close waits this long at most for task-ended records to reach the lobby.
constexpr unsigned kCloseWaitMs = 10000;
constexpr unsigned kCloseWaitTickMs = 100;
constexpr unsigned kRefreshMs = 100;

// The lobby itself: it can't be entered as a game.
extern const char kLobbyGameName[];
// Title of the framework's own message boxes.
extern const char kAppTitle[];
