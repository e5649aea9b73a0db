#include "platform/qt/qt_desktop.hpp"
#include "platform/qt/qt_task_queues.hpp"

#include <QApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace quillmark::platform::qt {
namespace {

// Runs the main loop until `done` holds or five seconds have passed.
bool runMainLoopUntil(const std::function<bool()>& done)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.exit(0);
    });
    poll.start(1);
    QTimer::singleShot(5000, &loop, [&loop] { loop.exit(1); });
    return loop.exec() == 0;
}

TEST(QtTaskQueuesTest, BackgroundWorkHopsToTheMainThreadInOrder)
{
    QtTaskQueues queues;
    QThread* main = QThread::currentThread();
    std::vector<int> order;
    std::atomic<bool> ranElsewhere { false };
    std::atomic<bool> waitedForMain { false };

    queues.runInBackground([&] {
        ranElsewhere = QThread::currentThread() != main;
        bool ranOnMain = false;
        queues.runOnMainAndWait([&] {
            ranOnMain = QThread::currentThread() == main;
            order.push_back(0);
        });
        // The synchronous hop returns only after its task ran.
        waitedForMain = ranOnMain;
        for (int i = 1; i <= 3; ++i)
            queues.runOnMain([&, i] { order.push_back(i); });
    });

    ASSERT_TRUE(runMainLoopUntil([&] { return order.size() == 4; }));
    EXPECT_TRUE(ranElsewhere);
    EXPECT_TRUE(waitedForMain);
    EXPECT_EQ(order, (std::vector<int> { 0, 1, 2, 3 }));
}

TEST(QtTaskQueuesTest, SynchronousHopFromTheMainThreadRunsAtOnce)
{
    QtTaskQueues queues;
    bool ran = false;
    queues.runOnMainAndWait([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(QtRepeatingTimerTest, TicksUntilInvalidatedAndNeverAfter)
{
    QtDesktop desktop;
    int ticks = 0;
    auto timer = desktop.scheduleRepeatingTimer(std::chrono::milliseconds(5), [&](RepeatingTimer& self) {
        if (++ticks == 3)
            self.invalidate();
    });
    ASSERT_TRUE(runMainLoopUntil([&] { return ticks >= 3; }));
    QEventLoop settle;
    QTimer::singleShot(50, &settle, [&settle] { settle.exit(0); });
    settle.exec();
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(timer->isValid());
}

TEST(QtRepeatingTimerTest, DroppingTheLastHandleStopsTheTimer)
{
    QtDesktop desktop;
    int ticks = 0;
    auto timer = desktop.scheduleRepeatingTimer(std::chrono::milliseconds(5), [&](RepeatingTimer&) { ++ticks; });
    ASSERT_TRUE(runMainLoopUntil([&] { return ticks >= 1; }));
    timer.reset();
    const int seen = ticks;
    QEventLoop settle;
    QTimer::singleShot(50, &settle, [&settle] { settle.exit(0); });
    settle.exec();
    EXPECT_EQ(ticks, seen);
}

} // namespace
} // namespace quillmark::platform::qt
