#include "platform/qt/termination_signals.hpp"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>

namespace quillmark::platform::qt {
namespace {

class TerminationSignalsTest : public ::testing::TestWithParam<int> { };

TEST_P(TerminationSignalsTest, PoliteSignalBecomesAQuitRequestOnTheMainThread)
{
    int requests = 0;
    {
        TerminationSignals signalsHandled([&] { ++requests; });
        // Without the handler the signal would end this test process here.
        ASSERT_EQ(::raise(GetParam()), 0);
        ASSERT_EQ(::raise(GetParam()), 0);
        EXPECT_EQ(requests, 0) << "the request waits for the event loop";

        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (requests > 0)
                loop.exit(0);
        });
        poll.start(1);
        QTimer::singleShot(5000, &loop, [&loop] { loop.exit(1); });
        ASSERT_EQ(loop.exec(), 0);
        EXPECT_EQ(requests, 1) << "signals that arrived together make one request";
    }
    struct sigaction restored {};
    ASSERT_EQ(::sigaction(GetParam(), nullptr, &restored), 0);
    EXPECT_EQ(restored.sa_handler, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(Signals, TerminationSignalsTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
    [](const auto& info) { return std::string(strsignal(info.param)).substr(0, 4) + std::to_string(info.param); });

TEST(TerminationSignalsTest, OnlyOneHandlerAtATime)
{
    TerminationSignals first([] {});
    EXPECT_THROW(TerminationSignals([] {}), std::exception);
}

} // namespace
} // namespace quillmark::platform::qt
