#pragma once

#include <cstddef>

struct evp_md_ctx_st;

namespace quillmark::platform {

// Feeds `length` mapped bytes to the digest `context`. A mapped file that
// another process cuts short raises SIGBUS where its vanished pages are
// touched; here that ends the update with false instead of ending the
// process, and the context must be started over. Bus errors anywhere else
// go to whatever handled them before.
bool updateDigestFromMapping(evp_md_ctx_st* context, const unsigned char* bytes, std::size_t length);

} // namespace quillmark::platform
