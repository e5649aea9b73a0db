#include "platform/seal/open_file_hashing.hpp"

#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

// Reads from the page cache through a buffer that stays in the processor's
// cache. Hashing a mapping of the file instead, which saves that copy, took
// 60% more processor time on the virtual machines this runs on: every page
// mapped costs more there than copying it.
constexpr std::size_t bufferSize = 128 * 1024;

} // namespace

void FileHasher::ContextFree::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

FileHasher::FileHasher()
    : buffer_(bufferSize)
    , context_(EVP_MD_CTX_new())
{
}

FileHasher::~FileHasher() = default;

int FileHasher::sha256(int fd, std::uint64_t sizeWhenOpened, Sha256& digest)
{
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
        return ENOMEM;
    // A file the first read takes whole gains nothing from a longer read-ahead.
    if (sizeWhenOpened > buffer_.size())
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    for (off_t offset = 0;;) {
        ssize_t length = ::pread(fd, buffer_.data(), buffer_.size(), offset);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (length == 0)
            break;
        EVP_DigestUpdate(context_.get(), buffer_.data(), static_cast<std::size_t>(length));
        offset += length;
        if (static_cast<std::size_t>(length) < buffer_.size() && static_cast<std::uint64_t>(offset) == sizeWhenOpened)
            break;
    }
    unsigned int written = 0;
    EVP_DigestFinal_ex(context_.get(), digest.data(), &written);
    return 0;
}

} // namespace quillmark::platform
