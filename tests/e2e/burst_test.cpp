// A burst from the lobby: many distinct requests written at once all become rows, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/updater_session.h"

namespace {

const int kBurst = 200;

class UpdaterBurst : public ::testing::Test {
protected:
    void TearDown() override { m_session.Finish(HasFailure()); }
    UpdaterSession m_session;
};

TEST_F(UpdaterBurst, TwoHundredRequestsInOneWriteBecomeTwoHundredRowsInOrder) {
    ASSERT_NO_FATAL_FAILURE(m_session.Start());
    std::vector<sUpdateStruct> records;
    for (int i = 0; i < kBurst; ++i) {
        const std::string name = "Burst" + std::to_string(i);
        records.push_back(m_session.Request(MakeGame(5000 + i, name, L"", "burst" + std::to_string(i))));
    }
    // The first game's URL file never comes: its task keeps running and every other one waits.
    ServedFile stalled{"[config]\r\n"};
    stalled.delayMsBeforeBody = 120000;
    m_session.Server().Serve("/burst0/update.ini", stalled);

    ASSERT_NO_FATAL_FAILURE(m_session.SendRecords(records));
    // Generous: the program lists them well within two seconds; a slow intake took minutes.
    ASSERT_TRUE(WaitUntil([&] { return m_session.RowCount() == kBurst; }, 30000))
        << "rows: " << m_session.RowCount() << " of " << kBurst;
    for (int row = 0; row < kBurst; ++row)
        ASSERT_EQ(L"Burst" + std::to_wstring(row), m_session.RowText(row)) << "row " << row;
}

}  // namespace
