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

    // SHA-256 of the open regular file `fd`, from its start to its end as it
    // is read. `sizeWhenOpened` is its size as fstat gave it: a read that
    // stops short exactly there is taken as the end, which saves a read per
    // file; a file that has grown or shrunk since is read to its real end.
    // Returns 0, or the errno of a read that failed.
    int sha256(int fd, std::uint64_t sizeWhenOpened, Sha256& digest);

private:
    std::vector<unsigned char> buffer_;
    struct ContextFree {
        void operator()(::evp_md_ctx_st* context) const;
    };
    std::unique_ptr<::evp_md_ctx_st, ContextFree> context_;
};

} // namespace quillmark::platform
