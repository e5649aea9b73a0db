#pragma once

#include "platform/seal/file_digests.hpp"

#include <cstdint>
#include <memory>
#include <vector>

struct evp_md_ctx_st; // OpenSSL's EVP_MD_CTX

namespace quillmark::platform {

// What one thread needs to hash files one after another: an OpenSSL context
// and a read buffer, made once and used for every file.
class FileHasher {
public:
    FileHasher();
    ~FileHasher();
    FileHasher(const FileHasher&) = delete;
    FileHasher& operator=(const FileHasher&) = delete;

    // SHA-256 of the open regular file `fd` of `size` bytes, from its start.
    // Returns 0, or the errno of the failure: a read error, or EIO when the
    // file turned out shorter than `size` (cut short while it was read).
    int sha256(int fd, std::uint64_t size, Sha256& digest);

private:
    int readInto(int fd, ::evp_md_ctx_st* context);
    int mapInto(int fd, std::uint64_t size, ::evp_md_ctx_st* context);

    std::vector<unsigned char> buffer_;
    struct ContextFree {
        void operator()(::evp_md_ctx_st* context) const;
    };
    std::unique_ptr<::evp_md_ctx_st, ContextFree> context_;
};

} // namespace quillmark::platform
