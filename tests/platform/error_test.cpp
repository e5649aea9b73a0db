#include "platform/error.hpp"

#include <cerrno>
#include <gtest/gtest.h>

namespace quillmark::platform {
namespace {

TEST(ErrorTest, FileErrorsMapErrnoToFileCodesAndKeepThePosixCause)
{
    struct Case {
        int number;
        FileAccess access;
        long code;
    };
    const Case cases[] = {
        { ENOENT, FileAccess::reading, fileErrorCode::noSuchFile },
        { EACCES, FileAccess::reading, fileErrorCode::readNoPermission },
        { EACCES, FileAccess::writing, fileErrorCode::writeNoPermission },
        { EPERM, FileAccess::writing, fileErrorCode::writeNoPermission },
        { EROFS, FileAccess::writing, fileErrorCode::writeVolumeReadOnly },
        { ENOSPC, FileAccess::writing, fileErrorCode::writeOutOfSpace },
        { EEXIST, FileAccess::writing, fileErrorCode::writeFileExists },
        { EIO, FileAccess::reading, fileErrorCode::readUnknown },
        { EIO, FileAccess::writing, fileErrorCode::writeUnknown },
    };
    for (const auto& c : cases) {
        auto error = fileError(c.number, c.access, "copy", "/Applications/Quillmark.app");
        EXPECT_EQ(error.domain(), fileErrorDomain);
        EXPECT_EQ(error.code(), c.code) << c.number;
        ASSERT_NE(error.underlying(), nullptr);
        EXPECT_EQ(error.underlying()->domain(), posixErrorDomain);
        EXPECT_EQ(error.underlying()->code(), c.number);
    }
}

TEST(ErrorTest, DescriptionNamesTheItemAndTheReason)
{
    auto error = fileError(ENOENT, FileAccess::reading, "read", "/Volumes/Quillmark/Quillmark.app/Contents/Info.plist");
    EXPECT_STREQ(error.what(),
        "Could not read \u201C/Volumes/Quillmark/Quillmark.app/Contents/Info.plist\u201D because there is no such file or folder.");
    EXPECT_EQ(error.description(), error.what());
}

} // namespace
} // namespace quillmark::platform
