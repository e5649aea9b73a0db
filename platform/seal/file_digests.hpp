#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace quillmark::platform {

class KnownDigests;

using Sha256 = std::array<unsigned char, 32>;

struct DigestTask {
    std::string path; // relative to the root folder
    std::uint64_t size = 0; // a hint for spreading the work
};

// What one file turned out to be when it was opened and read.
struct FileDigest {
    int error = 0; // errno when the file could not be opened or read
    bool regular = false; // false when something else stands at the path now
    bool executable = false;
    bool setsIdentity = false; // a set-user-ID or set-group-ID bit
    Sha256 sha256 {};
};

// Hashes every file below `rootFd` on a worker thread per core, largest
// files first, each worker taking the next file as soon as it is free, so
// the workers share the bytes and finish close together. Memory stays
// bounded whatever the sizes. Files are opened one component at a time
// without following links. With `known`, a file whose digest it holds, and
// that is unchanged since, is not read again; every digest made is added to
// it. `accept(index, digest)` runs on the worker that read the file;
// returning false stops every worker as soon as it finishes its current file.
void digestFiles(int rootFd, std::span<const DigestTask> tasks,
    const std::function<bool(std::size_t, const FileDigest&)>& accept, KnownDigests* known = nullptr);

} // namespace quillmark::platform
