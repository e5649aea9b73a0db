#include "platform/seal/background_listing.hpp"

#include <algorithm>

namespace quillmark::platform {

BackgroundListing::BackgroundListing(int rootFd, std::string displayPath, std::set<std::string> skip)
    : rootFd_(rootFd)
    , displayPath_(std::move(displayPath))
    , skip_(std::move(skip))
    , thread_([this](std::stop_token stop) { run(std::move(stop)); })
{
}

void BackgroundListing::run(std::stop_token stop)
{
    try {
        items_ = listBundleItems(rootFd_, displayPath_, skip_, stop);
        std::sort(items_.begin(), items_.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    } catch (...) {
        failure_ = std::current_exception();
    }
}

std::vector<BundleItem> BackgroundListing::take()
{
    thread_.join();
    if (failure_)
        std::rethrow_exception(failure_);
    return std::move(items_);
}

} // namespace quillmark::platform
