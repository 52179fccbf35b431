// Filters of the program's own message loops: offered in order, the first that handles a
// message stops it, a filter may remove itself, and each thread has its own.
#include <gtest/gtest.h>

#include <windows.h>

#include <thread>
#include <vector>

#include "framework/message_filters.h"

namespace {

class Filter : public CMessageFilter {
public:
    Filter(std::vector<int>* log, int id, bool handles) : m_log(log), m_id(id), m_handles(handles) {}
    bool removeSelf = false;
    bool FilterMessage(MSG*) override {
        m_log->push_back(m_id);
        if (removeSelf) RemoveMessageFilter(this);
        return m_handles;
    }

private:
    std::vector<int>* m_log;
    int m_id;
    bool m_handles;
};

TEST(MessageFilters, OfferedInOrderUntilOneHandlesTheMessage) {
    std::vector<int> log;
    Filter first(&log, 1, false), second(&log, 2, true), third(&log, 3, false);
    AddMessageFilter(&first);
    AddMessageFilter(&second);
    AddMessageFilter(&third);
    AddMessageFilter(&first);  // at most once
    MSG msg = {};
    EXPECT_TRUE(RunMessageFilters(&msg));
    EXPECT_EQ((std::vector<int>{1, 2}), log);

    RemoveMessageFilter(&second);
    log.clear();
    EXPECT_FALSE(RunMessageFilters(&msg));
    EXPECT_EQ((std::vector<int>{1, 3}), log);
    RemoveMessageFilter(&first);
    RemoveMessageFilter(&third);
    EXPECT_FALSE(RunMessageFilters(&msg));
    EXPECT_FALSE(RunMessageFilters(nullptr));
}

TEST(MessageFilters, AFilterMayRemoveItselfWhileOffered) {
    std::vector<int> log;
    Filter leaving(&log, 1, false), staying(&log, 2, false);
    leaving.removeSelf = true;
    AddMessageFilter(&leaving);
    AddMessageFilter(&staying);
    MSG msg = {};
    RunMessageFilters(&msg);
    RunMessageFilters(&msg);
    EXPECT_EQ((std::vector<int>{1, 2, 2}), log);
    RemoveMessageFilter(&staying);
}

TEST(MessageFilters, EachThreadHasItsOwn) {
    std::vector<int> log;
    Filter mine(&log, 1, true);
    AddMessageFilter(&mine);
    bool handledElsewhere = true;
    std::thread other([&] {
        MSG msg = {};
        handledElsewhere = RunMessageFilters(&msg);
    });
    other.join();
    EXPECT_FALSE(handledElsewhere);
    EXPECT_TRUE(log.empty());
    RemoveMessageFilter(&mine);
}

}  // namespace
