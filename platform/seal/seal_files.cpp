#include "platform/seal/seal_files.hpp"

#include "platform/seal/bundle_tree.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace quillmark::platform {

int readSealFile(int bundleFd, std::string_view relativePath, std::size_t limit, std::string& contents)
{
    UniqueFd file;
    if (int error = openBeneath(bundleFd, relativePath, O_RDONLY | O_NONBLOCK, file))
        return error;
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return errno;
    if (!S_ISREG(status.st_mode))
        return EINVAL;
    if (static_cast<std::uint64_t>(status.st_size) > limit)
        return EFBIG;
    contents.assign(static_cast<std::size_t>(status.st_size), '\0');
    std::size_t done = 0;
    while (done < contents.size()) {
        ssize_t length = ::read(file.get(), contents.data() + done, contents.size() - done);
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0)
            return errno;
        if (length == 0)
            break;
        done += static_cast<std::size_t>(length);
    }
    // A file that shrank while it was read is as good as damaged.
    if (done != contents.size())
        return EIO;
    return 0;
}

} // namespace quillmark::platform
