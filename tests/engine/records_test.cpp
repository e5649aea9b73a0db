#include "engine/records.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace quillmark {
namespace {

TEST(RecordsTest, InstallerFailureShowsExactlyItsMessage)
{
    const std::string message = "The Quillmark application executable is missing or invalid.";
    try {
        throw InstallerFailure(message);
    } catch (const std::exception& error) {
        EXPECT_EQ(std::string(error.what()), message);
        EXPECT_EQ(dynamic_cast<const InstallerFailure&>(error).message(), message);
    }
}

TEST(RecordsTest, CancellationErrorIsNotAnInstallerFailure)
{
    std::exception_ptr error = std::make_exception_ptr(CancellationError());
    EXPECT_THROW(std::rethrow_exception(error), CancellationError);
    try {
        std::rethrow_exception(error);
    } catch (const InstallerFailure&) {
        FAIL() << "a cancellation was taken for a failure";
    } catch (const CancellationError&) {
    }
}

TEST(RecordsTest, CancellationIsSeenByAnotherThreadAndANewObjectStartsClear)
{
    auto cancellation = std::make_shared<InstallCancellation>();
    EXPECT_FALSE(cancellation->test());

    std::atomic<bool> seen = false;
    std::thread worker([cancellation, &seen] {
        while (!cancellation->test())
            std::this_thread::yield();
        seen = true;
    });
    cancellation->request();
    worker.join();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(cancellation->test());

    cancellation = std::make_shared<InstallCancellation>();
    EXPECT_FALSE(cancellation->test());
}

} // namespace
} // namespace quillmark
