#include "platform/seal/file_digests.hpp"

#include "platform/seal/bundle_tree.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace quillmark::platform {
namespace {

constexpr std::size_t bufferSize = 512 * 1024;
constexpr unsigned maximumWorkers = 4;

struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

FileDigest digestFile(int rootFd, const std::string& path, std::vector<unsigned char>& buffer, EVP_MD_CTX* context)
{
    FileDigest digest;
    UniqueFd file;
    // O_NONBLOCK: a FIFO put in place of a file must not stall the check.
    digest.error = openBeneath(rootFd, path, O_RDONLY | O_NONBLOCK, file);
    if (digest.error != 0) {
        if (digest.error == ELOOP)
            digest.error = 0; // a link now: reported as a changed kind, not as a read error
        return digest;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        digest.error = errno;
        return digest;
    }
    if (!S_ISREG(status.st_mode))
        return digest;
    digest.regular = true;
    digest.executable = (status.st_mode & 0111) != 0;
    digest.setsIdentity = (status.st_mode & (S_ISUID | S_ISGID)) != 0;
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    if (EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1) {
        digest.error = ENOMEM;
        return digest;
    }
    for (;;) {
        ssize_t length = ::read(file.get(), buffer.data(), buffer.size());
        if (length < 0) {
            if (errno == EINTR)
                continue;
            digest.error = errno;
            return digest;
        }
        if (length == 0)
            break;
        EVP_DigestUpdate(context, buffer.data(), static_cast<std::size_t>(length));
    }
    unsigned int written = 0;
    EVP_DigestFinal_ex(context, digest.sha256.data(), &written);
    return digest;
}

} // namespace

void digestFiles(int rootFd, std::span<const DigestTask> tasks,
    const std::function<bool(std::size_t, const FileDigest&)>& accept)
{
    // Largest files first, so that the workers finish close together.
    std::vector<std::size_t> order(tasks.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) { return tasks[a].size > tasks[b].size; });

    std::atomic<std::size_t> next { 0 };
    std::atomic<bool> stopped { false };
    auto work = [&] {
        std::vector<unsigned char> buffer(bufferSize);
        std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
        while (!stopped.load(std::memory_order_relaxed)) {
            std::size_t position = next.fetch_add(1);
            if (position >= order.size())
                return;
            std::size_t index = order[position];
            FileDigest digest;
            if (context)
                digest = digestFile(rootFd, tasks[index].path, buffer, context.get());
            else
                digest.error = ENOMEM;
            if (!accept(index, digest))
                stopped = true;
        }
    };

    unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, maximumWorkers);
    workers = static_cast<unsigned>(std::min<std::size_t>(workers, tasks.size()));
    std::vector<std::jthread> threads;
    for (unsigned i = 1; i < workers; ++i)
        threads.emplace_back(work);
    work();
}

} // namespace quillmark::platform
