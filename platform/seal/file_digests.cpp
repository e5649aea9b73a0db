#include "platform/seal/file_digests.hpp"

#include "platform/seal/bundle_tree.hpp"
#include "platform/seal/known_digests.hpp"
#include "platform/seal/open_file_hashing.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <numeric>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace quillmark::platform {
namespace {

constexpr unsigned maximumWorkers = 4;

FileDigest digestFile(int rootFd, const std::string& path, FileHasher& hasher, KnownDigests* known)
{
    FileDigest digest;
    auto readBegan = KnownDigests::readBegins();
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
    std::optional<KnownDigests::KeptRead> kept;
    if (known != nullptr) {
        if (auto sha256 = known->find(file.get(), status)) {
            digest.sha256 = *sha256;
            return digest;
        }
        kept = known->keptRead(file.get(), status, readBegan);
    }
    digest.error = hasher.sha256(file.get(), static_cast<std::uint64_t>(status.st_size), digest.sha256);
    if (digest.error == 0 && kept)
        known->remember(*kept, digest.sha256);
    return digest;
}

} // namespace

void digestFiles(int rootFd, std::span<const DigestTask> tasks,
    const std::function<bool(std::size_t, const FileDigest&)>& accept, KnownDigests* known)
{
    // Largest files first, so that the workers finish close together.
    std::vector<std::size_t> order(tasks.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](auto a, auto b) { return tasks[a].size > tasks[b].size; });

    std::atomic<std::size_t> next { 0 };
    std::atomic<bool> stopped { false };
    auto work = [&] {
        FileHasher hasher;
        while (!stopped.load(std::memory_order_relaxed)) {
            std::size_t position = next.fetch_add(1);
            if (position >= order.size())
                return;
            std::size_t index = order[position];
            if (!accept(index, digestFile(rootFd, tasks[index].path, hasher, known)))
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
