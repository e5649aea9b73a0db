#pragma once

#include "platform/seal/bundle_tree.hpp"

#include <exception>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace quillmark::platform {

// Lists a bundle on a thread of its own while the caller does other work
// (for the seal check: reading the seal and checking its signature, which on
// a large bundle takes about as long as the listing). Dropping it before
// `take` stops the listing at the next folder and waits for the thread.
class BackgroundListing {
public:
    BackgroundListing(int rootFd, std::string displayPath, std::set<std::string> skip);
    BackgroundListing(const BackgroundListing&) = delete;
    BackgroundListing& operator=(const BackgroundListing&) = delete;

    // Waits for the listing: every item sorted by path, or what ended it
    // (a "file" domain error when a folder cannot be read) thrown here.
    std::vector<BundleItem> take();

private:
    void run(std::stop_token stop);

    int rootFd_;
    std::string displayPath_;
    std::set<std::string> skip_;
    std::vector<BundleItem> items_;
    std::exception_ptr failure_;
    std::jthread thread_; // last: starts once everything it uses is made
};

} // namespace quillmark::platform
