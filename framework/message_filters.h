#pragma once
// Messages that the program's own loops take from the queue (the modal dialog's loop) are
// offered to the filters registered on the loop's thread before they are dispatched. A loop
// of our own costs nothing per message, where a message hook costs round trips to the window
// server under Wine at every message.
#include <windows.h>

class CMessageFilter {
public:
    virtual ~CMessageFilter() = default;
    // True when the filter has handled the message: it is then not dispatched.
    virtual bool FilterMessage(MSG* msg) = 0;
};

// Both act on the calling thread's filters; a filter is added at most once.
void AddMessageFilter(CMessageFilter* filter);
void RemoveMessageFilter(CMessageFilter* filter);
// Offers `msg` to the calling thread's filters in the order they were added.
bool RunMessageFilters(MSG* msg);
