#include "framework/message_filters.h"

#include <algorithm>
#include <vector>

#include "framework/trace.h"

namespace {
thread_local std::vector<CMessageFilter*> t_filters;
}

void AddMessageFilter(CMessageFilter* filter) {
    if (filter == nullptr || std::find(t_filters.begin(), t_filters.end(), filter) != t_filters.end()) return;
    t_filters.push_back(filter);
}

void RemoveMessageFilter(CMessageFilter* filter) {
    t_filters.erase(std::remove(t_filters.begin(), t_filters.end(), filter), t_filters.end());
}

bool RunMessageFilters(MSG* msg) {
    if (msg == nullptr || t_filters.empty()) return false;
    const std::vector<CMessageFilter*> filters = t_filters;  // a filter may remove itself
    for (CMessageFilter* filter : filters) {
        if (std::find(t_filters.begin(), t_filters.end(), filter) == t_filters.end()) continue;
        try {
            if (filter->FilterMessage(msg)) return true;
        } catch (...) {
            TraceLine("qen: exception in a message filter, message %u", msg->message);
        }
    }
    return false;
}
