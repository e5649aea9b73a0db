#include "engine/installer_engine.hpp"

#include "platform/error.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

namespace quillmark {
namespace {

using platform::Error;

std::shared_ptr<const Error> shared(Error error)
{
    return std::make_shared<const Error>(std::move(error));
}

Error fileError(long code, std::shared_ptr<const Error> underlying = nullptr)
{
    return Error(std::string(platform::fileErrorDomain), code, "file error", std::move(underlying));
}

Error posixError(long code, std::shared_ptr<const Error> underlying = nullptr)
{
    return Error(std::string(platform::posixErrorDomain), code, "posix error", std::move(underlying));
}

TEST(PermissionErrorTest, RecognisesPermissionCodesAtAnyDepth)
{
    using namespace platform::fileErrorCode;
    struct Case {
        const char* name;
        Error error;
        bool expected;
    };
    const Case cases[] = {
        { "posix EACCES", posixError(EACCES), true },
        { "posix EPERM", posixError(EPERM), true },
        { "posix EROFS", posixError(EROFS), true },
        { "posix ENOENT", posixError(ENOENT), false },
        { "posix negative", posixError(-13), false },
        { "file read no permission", fileError(readNoPermission), true },
        { "file write no permission", fileError(writeNoPermission), true },
        { "file read-only volume", fileError(writeVolumeReadOnly), true },
        { "file out of space alone", fileError(writeOutOfSpace), false },
        { "no such file over EACCES", fileError(noSuchFile, shared(posixError(EACCES))), true },
        { "513 two levels down", fileError(writeUnknown, shared(fileError(readUnknown, shared(fileError(writeNoPermission))))), true },
        { "out of space over ENOSPC", fileError(writeOutOfSpace, shared(posixError(ENOSPC))), false },
        { "code 13 in another domain", Error("property-list", EACCES, "x"), false },
        { "another domain over EROFS", Error("seal", 1, "x", shared(posixError(EROFS))), true },
    };
    for (const auto& c : cases)
        EXPECT_EQ(InstallerEngine::permissionError(c.error), c.expected) << c.name;
}

TEST(PermissionErrorTest, TheInstallersOwnErrorsAreNotPermissionProblems)
{
    EXPECT_FALSE(InstallerEngine::permissionError(CancellationError()));
    EXPECT_FALSE(InstallerEngine::permissionError(InstallerFailure("You don't have permission.")));
    EXPECT_FALSE(InstallerEngine::permissionError(std::runtime_error("EACCES")));
}

} // namespace
} // namespace quillmark
