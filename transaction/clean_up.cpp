#include "transaction/install_transaction.hpp"

namespace quillmark::transaction {

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
