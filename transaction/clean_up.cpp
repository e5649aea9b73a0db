#include "transaction/install_transaction.hpp"

#include "platform/regular_expression.hpp"

namespace quillmark::transaction {

void InstallTransaction::removeLeftoverStaging() const noexcept
{
    // Staging folders of installers that were killed: nothing else ever
    // removes them, and each is as big as the application. Holding the lock
    // proves that no installer still at work owns one, since an installer
    // makes its staging folder only under the lock and removes it before it
    // lets go. This runs only after a successful installation, so a leftover
    // that holds the only previous copy (an installer killed between its two
    // renames) goes only once a complete, verified copy is at the
    // destination. Only folders whose names are exactly those of staging
    // folders are taken; the removal opens nothing through a link.
    static const platform::RegularExpression stagingName(
        R"(^\.Quillmark-install-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$)");
    try {
        for (const auto& name : manager_.contentsOfDirectory(root_)) {
            if (name == staging_->lastComponent() || !stagingName.matches(name))
                continue;
            auto leftover = root_.appendingDirectory(name);
            try {
                if (manager_.attributesOfItem(leftover).type == platform::FileType::directory)
                    manager_.removeItem(leftover);
            } catch (...) {
                // Left for the next installation; the user's result stands.
            }
        }
    } catch (...) {
        // Nothing to tidy that matters more than the result.
    }
}

void InstallTransaction::cleanUp() noexcept
{
    // The staging folder first, while the lock still keeps other installers
    // out of the root; then the lock.
    if (staging_ && !keepStaging_) {
        try {
            manager_.removeItem(*staging_);
        } catch (...) {
            // Whatever is on its way to the caller matters more than a
            // leftover hidden folder.
        }
    }
    staging_.reset();
    if (lock_)
        lock_->release();
    lock_.reset();
}

} // namespace quillmark::transaction
