// Running queued tasks: one at a time, each ending with the supervisor's reports to the window
// of its dialog.
#include <memory>
#include <thread>

#include "framework/scoped_handle.h"
#include "process/dialog_messages.h"
#include "process/exit_flag.h"
#include "tests/update/engine_fixture.h"
#include "tests/update/notify_window.h"
#include "update/worker_control.h"

namespace {

const std::vector<WPARAM> kRowEnd = {kCodeFinalProgress, kCodeTaskEnded};
const std::vector<WPARAM> kEndOnly = {kCodeTaskEnded};

class WorkerControl : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        m_window = std::make_unique<NotifyWindow>();
        ASSERT_NE(nullptr, m_window->GetSafeHwnd());
        ServeListText("[list0]\r\naction=0\r\n");
    }

    void TearDown() override {
        // A supervisor still running would later touch the window object: wait for every end.
        bool allEnded = m_window->PumpUntil([this] {
            for (const TaskPtr& task : m_started) {
                if (!m_window->Ended(task)) return false;
            }
            return true;
        });
        if (!allEnded) {
            ADD_FAILURE() << "a started task never reported its end";
            g_bExit = true;
            static_cast<void>(m_window.release());  // left alive for the late supervisor
        }
        EngineTest::TearDown();
    }

    // A task reporting to the test window; the tear-down waits for its end.
    TaskPtr Task(int row) {
        TaskPtr task = NewTask(row, m_window.get());
        m_started.push_back(task);
        return task;
    }
    bool WaitEnded(const TaskPtr& task) {
        return m_window->PumpUntil([&] { return m_window->Ended(task); });
    }
    // Runs UpdateSupervisor on a thread of its own and returns its result.
    DWORD RunSupervisor(const TaskPtr& task) {
        ScopedKernelHandle thread(StartSupervisor(task));
        if (!thread.IsValid() || ::WaitForSingleObject(thread.Get(), 60000) != WAIT_OBJECT_0) return 1;
        DWORD result = 1;
        ::GetExitCodeThread(thread.Get(), &result);
        return result;
    }

    std::unique_ptr<NotifyWindow> m_window;
    std::vector<TaskPtr> m_started;
};

TEST_F(WorkerControl, ATaskWithARowReportsFinalProgressThenItsEndAndItsOutcome) {
    for (bool workerFails : {false, true}) {
        Fresh();
        if (workerFails) {
            ServedFile gone{"gone"};
            gone.fixedStatus = 404;
            m_server.Serve(kUrlFile, gone);
        }
        TaskPtr task = Task(0);
        task->fProgress = 0.3f;
        task->dSpeed = 5.0;
        TaskQueue queue = {task};
        size_t reportsBefore = m_window->ReportCount();

        StartWaitingTasks(queue);
        EXPECT_EQ(kTaskRunning, task->nState.load());
        ASSERT_TRUE(WaitEnded(task));

        EXPECT_EQ(kRowEnd, m_window->Codes(task)) << "worker fails: " << workerFails;
        EXPECT_EQ(reportsBefore + 2, m_window->ReportCount());
        // A list without an archive finishes its task; a failed one keeps the progress it had.
        EXPECT_EQ(workerFails ? 0.3f : 1.0f, task->fProgress.load());
        EXPECT_EQ(0.0, task->dSpeed.load());
        EXPECT_EQ(workerFails ? kTaskFailed : kTaskFinished, task->nState.load());
        EXPECT_EQ(0, RunningWorkers());
        EXPECT_EQ(workerFails ? 1u : 0u, Boxes().size());
    }
}

TEST_F(WorkerControl, ATaskWithoutARowReportsOnlyItsEnd) {
    TaskPtr task = Task(-1);
    task->fProgress = 0.3f;
    task->dSpeed = 5.0;
    TaskQueue queue = {task};
    StartWaitingTasks(queue);
    ASSERT_TRUE(WaitEnded(task));
    EXPECT_EQ(kEndOnly, m_window->Codes(task));
    EXPECT_EQ(0.3f, task->fProgress.load());
    EXPECT_EQ(5.0, task->dSpeed.load());
}

TEST_F(WorkerControl, AStoppedTaskKeepsItsProgressAndLosesItsSpeed) {
    ServedFile slow{std::string(2 * 1024 * 1024, 'z')};
    slow.delayMsPerChunk = 10;
    m_server.Serve("/files/big.zip", slow);
    ServeList({{"2", m_server.Url("/files/big.zip"), Rel("big.zip"), ""}, Reachable()});
    TaskPtr task = Task(0);
    task->fProgress = 0.25f;
    TaskQueue queue = {task};
    StartWaitingTasks(queue);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(m_window->PumpUntil([&] {
        return ::GetFileAttributesExA(Full("big.zip.part").c_str(), GetFileExInfoStandard, &data) &&
               data.nFileSizeLow > 0;
    }));
    task->bStop = true;
    ASSERT_TRUE(WaitEnded(task));
    EXPECT_EQ(kRowEnd, m_window->Codes(task));
    EXPECT_EQ(0.25f, task->fProgress.load());
    EXPECT_EQ(0.0, task->dSpeed.load());
    EXPECT_FALSE(FileExists(Full("big.zip")));
    EXPECT_FALSE(FileExists(Full("big.zip.part")));
}

TEST_F(WorkerControl, TheSupervisorClearsAnEarlierStopRequest) {
    TaskPtr task = Task(0);
    task->nState = kTaskRunning;
    task->bStop = true;
    int starts = MavrinStarts();
    EXPECT_EQ(0u, RunSupervisor(task));
    ASSERT_TRUE(WaitEnded(task));
    EXPECT_FALSE(task->bStop.load());
    EXPECT_EQ(kRowEnd, m_window->Codes(task));
    EXPECT_EQ(1.0f, task->fProgress.load());
    EXPECT_EQ(kTaskFinished, task->nState.load());
    EXPECT_TRUE(WaitForMavrinStarts(starts + 1)) << "the worker ran its list";
}

TEST_F(WorkerControl, AFailedTaskLeavesTheSlotAndTheNextOneStarts) {
    TaskPtr first = Task(0);
    SetFieldText(first->szUrl, m_server.Url("/missing/update.ini"));  // 404
    TaskPtr second = Task(1);
    TaskQueue queue = {first, second};

    StartWaitingTasks(queue);
    StartWaitingTasks(queue);
    EXPECT_EQ(kTaskRunning, first->nState.load());
    EXPECT_EQ(kTaskWaiting, second->nState.load()) << "one task at a time";

    ASSERT_TRUE(WaitEnded(first));
    EXPECT_EQ(kTaskFailed, first->nState.load());
    // As the dialog does on the task-ended report.
    StartWaitingTasks(queue);
    EXPECT_EQ(kTaskRunning, second->nState.load());
    ASSERT_TRUE(WaitEnded(second));
    EXPECT_EQ(kTaskFinished, second->nState.load());
    EXPECT_EQ(kRowEnd, m_window->Codes(first));
}

TEST_F(WorkerControl, ARemovedRunningTaskKeepsTheSlotUntilItsWorkerHasEnded) {
    ServedFile held{"[config]\r\nmain=" + ListUrl() + "\r\n"};
    held.delayMsBeforeBody = 1500;
    m_server.Serve("/held/update.ini", held);
    TaskPtr first = Task(0);
    SetFieldText(first->szUrl, m_server.Url("/held/update.ini"));
    TaskPtr second = Task(1);
    TaskQueue queue = {first, second};
    StartWaitingTasks(queue);
    ASSERT_TRUE(m_window->PumpUntil([&] { return !m_server.Requests().empty(); }));

    RemoveTaskAtRow(queue, 0);  // its worker still waits for the update URL file
    StartWaitingTasks(queue);
    EXPECT_EQ(kTaskWaiting, second->nState.load());
    EXPECT_EQ(1, RunningWorkers());

    ASSERT_TRUE(WaitEnded(first));
    EXPECT_EQ(kTaskRunning, first->nState.load()) << "a stop stays a stop";
    StartWaitingTasks(queue);
    EXPECT_EQ(kTaskRunning, second->nState.load());
    ASSERT_TRUE(WaitEnded(second));
}

TEST_F(WorkerControl, AWaitingTaskAskedToStopIsSkipped) {
    TaskPtr stopped = NewTask(0, m_window.get());
    stopped->bStop = true;
    TaskPtr next = Task(1);
    TaskQueue queue = {stopped, next};
    StartWaitingTasks(queue);
    EXPECT_EQ(kTaskWaiting, stopped->nState.load());
    EXPECT_EQ(kTaskRunning, next->nState.load());
    ASSERT_TRUE(WaitEnded(next));
    EXPECT_TRUE(m_window->Codes(stopped).empty());
}

TEST_F(WorkerControl, StartingATaskClearsTheExitFlag) {
    // Set by an earlier "cancel all": a new start must not inherit it.
    g_bExit = true;
    TaskPtr task = Task(0);
    TaskQueue queue = {task};
    int starts = MavrinStarts();
    StartWaitingTasks(queue);
    EXPECT_FALSE(g_bExit.load());
    ASSERT_TRUE(WaitEnded(task));
    EXPECT_EQ(kRowEnd, m_window->Codes(task));
    EXPECT_TRUE(WaitForMavrinStarts(starts + 1)) << "the list ran to its end marker";
}

TEST_F(WorkerControl, ASupervisorStartedAfterTheExitFlagReportsNothing) {
    TaskPtr task = NewTask(0, m_window.get());
    task->nState = kTaskRunning;
    g_bExit = true;
    EXPECT_EQ(static_cast<DWORD>(-1), RunSupervisor(task));
    g_bExit = false;
    ::Sleep(200);
    m_window->Pump();
    EXPECT_EQ(0u, m_window->ReportCount());
    EXPECT_EQ(kTaskRunning, task->nState.load());
    EXPECT_EQ(nullptr, task->hThread.load());
    EXPECT_TRUE(m_server.Requests().empty()) << "no worker ran";
}

}  // namespace
