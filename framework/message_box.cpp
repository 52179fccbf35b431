#include "framework/message_box.h"

#include <mutex>

#include "framework/gbk_text.h"

namespace {
std::mutex g_boxMutex;
MessageBoxFunction g_replacement;
}  // namespace

MessageBoxFunction SetMessageBoxFunction(MessageBoxFunction replacement) {
    std::lock_guard<std::mutex> lock(g_boxMutex);
    MessageBoxFunction previous = std::move(g_replacement);
    g_replacement = std::move(replacement);
    return previous;
}

int ShowSystemMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type) {
    return MessageBoxW(owner, GbkToWide(text).c_str(), GbkToWide(title).c_str(), type);
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& title, UINT type) {
    MessageBoxFunction box;
    {
        // Copied out so a box that stays open never blocks other threads' boxes.
        std::lock_guard<std::mutex> lock(g_boxMutex);
        box = g_replacement;
    }
    if (box) return box(owner, text, title, type);
    return ShowSystemMessageBox(owner, text, title, type);
}
