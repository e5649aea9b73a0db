#include "transaction/install_transaction.hpp"

#include "transaction/staging_folders.hpp"

namespace quillmark::transaction {

void InstallTransaction::removeLeftoverStaging() const noexcept
{
    // Staging folders of installers that were killed: nothing else ever
    // removes them, and each is as big as the application. Holding the lock
    // proves that no installer still at work owns one, since an installer
    // makes its staging folder only under the lock and removes it before it
    // lets go. A leftover that holds a whole previous copy stays: the person
    // may have been told where it is, and only they decide whether it goes
    // back or goes away. One whose copy was half removed when its installer
    // was killed holds nothing anyone could use. Only folders whose names are exactly those of staging
    // folders are taken; the removal opens nothing through a link.
    try {
        for (const auto& name : manager_.contentsOfDirectory(root_)) {
            if (name == staging_->lastComponent())
                continue;
            auto leftover = root_.appendingDirectory(name);
            try {
                if (isStagingFolder(manager_, leftover) && !wholePreviousCopy(engine_, leftover))
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
    // Whatever way out this is, the computer may shut down again.
    allowShutdown();
    if (lock_)
        lock_->release();
    lock_.reset();
}

} // namespace quillmark::transaction
