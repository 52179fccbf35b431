// The wire record's three uses and the task queue's queries.
#include <gtest/gtest.h>

#include <cstring>

#include "lobby/task_queue.h"
#include "lobby/update_record.h"

namespace {

sUpdateStruct Request(int32_t gameId, const char* name = "game") {
    sUpdateStruct record;
    std::memset(&record, 0, sizeof record);
    record.cCmd = 1;
    record.nGameID = gameId;
    SetFieldText(record.szGameName, name);
    SetFieldText(record.szUrl, "http://127.0.0.1/update/url.ini");
    SetFieldText(record.szConfigKey, "key");
    return record;
}

const unsigned char* Bytes(const sUpdateStruct& record) { return reinterpret_cast<const unsigned char*>(&record); }

TEST(UpdateRecord, TaskEndedReportZeroesOnlyTheFirstByte) {
    sUpdateStruct request;
    for (int i = 0; i < kRecordSize; ++i) reinterpret_cast<unsigned char*>(&request)[i] = static_cast<unsigned char>(i * 7 + 1);
    request.cCmd = 7;
    request.reserved[0] = 1;
    request.reserved[1] = 2;
    request.reserved[2] = 3;

    sUpdateStruct report = MakeTaskEndedReport(request);

    EXPECT_EQ(0, Bytes(report)[0]);
    EXPECT_EQ(1, Bytes(report)[1]);
    EXPECT_EQ(2, Bytes(report)[2]);
    EXPECT_EQ(3, Bytes(report)[3]);
    EXPECT_EQ(0, std::memcmp(Bytes(report) + 4, Bytes(request) + 4, kRecordSize - 4));
}

TEST(UpdateRecord, StartGameRoomRequestIsCmdThreeGameIdAndZeros) {
    sUpdateStruct request = MakeStartGameRoomRequest(42);
    const unsigned char* bytes = Bytes(request);
    const unsigned char head[8] = {3, 0, 0, 0, 42, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(bytes, head, sizeof head));
    for (int i = 8; i < kRecordSize; ++i) ASSERT_EQ(0, bytes[i]) << "byte " << i;

    sUpdateStruct negative = MakeStartGameRoomRequest(-2);
    const unsigned char littleEndian[4] = {0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(Bytes(negative) + 4, littleEndian, 4));
}

TEST(UpdateRecord, RequestFieldsLieAtTheirOffsets) {
    sUpdateStruct request = Request(0x01020304, "abc");
    const unsigned char* bytes = Bytes(request);
    EXPECT_EQ(0x04, bytes[4]);
    EXPECT_EQ(0x01, bytes[7]);
    EXPECT_EQ(0, std::memcmp(bytes + 8, "abc", 4));
    EXPECT_EQ(0, std::memcmp(bytes + 208, "http://", 7));
    EXPECT_EQ(0, std::memcmp(bytes + 1208, "key", 4));
}

TEST(UpdateRecord, FieldWithoutTerminatorIsReadOnlyToItsEnd) {
    sUpdateStruct request = Request(1);
    std::memset(request.szConfigKey, 'k', sizeof request.szConfigKey);
    EXPECT_EQ(std::string(20, 'k'), FieldText(request.szConfigKey));

    std::memset(request.szGameName, 'n', sizeof request.szGameName);
    EXPECT_EQ(200u, FieldText(request.szGameName).size());
}

TEST(UpdateRecord, SetFieldTextCutsToLeaveTheTerminator) {
    sUpdateStruct request = Request(1);
    SetFieldText(request.szConfigKey, std::string(30, 'x'));
    EXPECT_EQ(std::string(19, 'x'), FieldText(request.szConfigKey));
    EXPECT_EQ('\0', request.szConfigKey[19]);
}

TEST(TaskQueue, NewTaskCopiesTheRecordAndStartsAtZero) {
    sUpdateStruct request = Request(5, "name");
    TaskPtr task = CreateTask(request, nullptr, 3);
    EXPECT_EQ(0, std::memcmp(&task->Record(), &request, kRecordSize));
    EXPECT_EQ(3, task->nIndex);
    EXPECT_EQ(kTaskWaiting, task->nState);
    EXPECT_FALSE(task->bStop);
    EXPECT_EQ(kPhaseDownloading, task->cPhase);
    EXPECT_EQ(0.0f, task->fProgress);
    EXPECT_EQ(0.0, task->dSpeed);
    EXPECT_EQ(nullptr, task->hThread.load());
}

TEST(TaskQueue, QueriesLookAtGameAndState) {
    TaskQueue queue;
    EXPECT_FALSE(CheckAdded(queue, Request(1)));
    EXPECT_FALSE(CheckDownloading(queue, Request(1)));
    EXPECT_EQ(nullptr, FindNextWaiting(queue));

    queue.push_back(CreateTask(Request(1), nullptr, 0));
    queue.push_back(CreateTask(Request(2), nullptr, 1));
    queue.push_back(CreateTask(Request(3), nullptr, 2));
    queue[0]->nState = kTaskRunning;
    queue[2]->nState = kTaskFinished;

    EXPECT_FALSE(CheckAdded(queue, Request(1)));
    EXPECT_TRUE(CheckDownloading(queue, Request(1)));
    EXPECT_TRUE(CheckAdded(queue, Request(2)));
    EXPECT_FALSE(CheckDownloading(queue, Request(2)));
    // A finished game counts as neither, so it can be requested again.
    EXPECT_FALSE(CheckAdded(queue, Request(3)));
    EXPECT_FALSE(CheckDownloading(queue, Request(3)));
    EXPECT_EQ(queue[1], FindNextWaiting(queue));

    queue[1]->bStop = true;
    EXPECT_EQ(nullptr, FindNextWaiting(queue));
}

TEST(TaskQueue, OnlyFinishedTasksCountAsFinished) {
    TaskQueue queue;
    for (int i = 0; i < 3; ++i) queue.push_back(CreateTask(Request(20 + i), nullptr, i));
    queue[0]->nState = kTaskFinished;
    queue[1]->nState = kTaskFailed;
    queue[1]->fProgress = 1.0f;  // a failed task that got far still does not count
    queue[2]->nState = kTaskFinished;
    EXPECT_EQ(2u, CountFinished(queue));
    EXPECT_FALSE(AllFinished(queue));
    queue.erase(queue.begin() + 1);
    EXPECT_TRUE(AllFinished(queue));
    queue[1]->nIndex = -1;  // a task without a row
    EXPECT_FALSE(AllFinished(queue));
    EXPECT_FALSE(AllFinished(TaskQueue{}));
}

TEST(TaskQueue, FindNextWaitingSkipsEmptySlotsAndKeepsQueueOrder) {
    TaskQueue queue;
    queue.push_back(nullptr);
    queue.push_back(CreateTask(Request(8), nullptr, 1));
    queue.push_back(CreateTask(Request(9), nullptr, 2));
    EXPECT_EQ(queue[1], FindNextWaiting(queue));
    EXPECT_FALSE(CheckAdded(queue, Request(7)));
}

TEST(TaskQueue, RemovingARowRenumbersTheLaterTasks) {
    TaskQueue queue;
    for (int i = 0; i < 3; ++i) queue.push_back(CreateTask(Request(10 + i), nullptr, i));
    TaskPtr first = queue[0];

    TaskPtr removed = RemoveTaskAtRow(queue, 0);

    EXPECT_EQ(first, removed);
    EXPECT_TRUE(removed->bStop);
    ASSERT_EQ(2u, queue.size());
    EXPECT_EQ(11, queue[0]->nGameID);
    EXPECT_EQ(0, queue[0]->nIndex);
    EXPECT_EQ(12, queue[1]->nGameID);
    EXPECT_EQ(1, queue[1]->nIndex);
    EXPECT_EQ(nullptr, RemoveTaskAtRow(queue, 5));
    EXPECT_EQ(2u, queue.size());
}

TEST(TaskQueue, RemovedTaskLivesOnWhileAThreadHoldsIt) {
    TaskQueue queue;
    queue.push_back(CreateTask(Request(1), nullptr, 0));
    TaskPtr heldByWorker = queue[0];
    RemoveTaskAtRow(queue, 0);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(1, heldByWorker->nGameID);
    EXPECT_TRUE(heldByWorker->bStop);
}

TEST(TaskQueue, StopAndReleaseAllKeepsTheSlots) {
    TaskQueue queue;
    queue.push_back(CreateTask(Request(1), nullptr, 0));
    queue.push_back(CreateTask(Request(2), nullptr, 1));
    TaskPtr running = queue[1];

    StopAndReleaseAll(queue);

    ASSERT_EQ(2u, queue.size());
    EXPECT_EQ(nullptr, queue[0]);
    EXPECT_EQ(nullptr, queue[1]);
    EXPECT_TRUE(running->bStop);
    EXPECT_EQ(nullptr, FindNextWaiting(queue));
}

}  // namespace
