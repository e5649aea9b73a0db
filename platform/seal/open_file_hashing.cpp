#include "platform/seal/open_file_hashing.hpp"

#include "platform/seal/bus_error_recovery.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillmark::platform {
namespace {

constexpr std::size_t bufferSize = 256 * 1024;
// Below this a read into the buffer costs less than setting up a mapping.
constexpr std::uint64_t smallestMappedFile = 1024 * 1024;
// Mapped a window at a time and unmapped behind: the pages of a mapping
// count as the process's memory while they are mapped.
constexpr std::size_t mappingWindow = 4 * 1024 * 1024;

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

int FileHasher::sha256(int fd, std::uint64_t size, Sha256& digest)
{
    if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
        return ENOMEM;
    int error = size >= smallestMappedFile ? mapInto(fd, size, context_.get()) : readInto(fd, context_.get());
    if (error == EAGAIN) {
        // Cut short or grown while it was mapped: hashed again by reading,
        // which gives the digest of what the file holds now.
        if (EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            return ENOMEM;
        error = readInto(fd, context_.get());
    }
    if (error != 0)
        return error;
    unsigned int written = 0;
    EVP_DigestFinal_ex(context_.get(), digest.data(), &written);
    return 0;
}

// Copies through the buffer: for small files, and where a mapping fails.
int FileHasher::readInto(int fd, evp_md_ctx_st* context)
{
    for (off_t offset = 0;;) {
        ssize_t length = ::pread(fd, buffer_.data(), buffer_.size(), offset);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (length == 0)
            return 0;
        EVP_DigestUpdate(context, buffer_.data(), static_cast<std::size_t>(length));
        offset += length;
    }
}

// Hashes the page cache in place, without copying it into a buffer first.
int FileHasher::mapInto(int fd, std::uint64_t size, evp_md_ctx_st* context)
{
    for (std::uint64_t offset = 0; offset < size; offset += mappingWindow) {
        auto length = static_cast<std::size_t>(std::min<std::uint64_t>(mappingWindow, size - offset));
        void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, static_cast<off_t>(offset));
        if (mapped == MAP_FAILED) {
            // Nothing hashed yet: the buffer does as well.
            if (offset == 0)
                return readInto(fd, context);
            return errno;
        }
        ::madvise(mapped, length, MADV_SEQUENTIAL);
        bool whole = updateDigestFromMapping(context, static_cast<const unsigned char*>(mapped), length);
        ::munmap(mapped, length);
        if (!whole)
            return EAGAIN;
    }
    // A file that grew meanwhile is hashed whole, by reading.
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return errno;
    return static_cast<std::uint64_t>(now.st_size) == size ? 0 : EAGAIN;
}

} // namespace quillmark::platform
