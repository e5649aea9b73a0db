#include "transaction/install_transaction.hpp"

#include "platform/files/tree_size.hpp"
#include "platform/files/volume_information.hpp"
#include "transaction/install_messages.hpp"

namespace quillmark::transaction {
namespace {

// Room beyond the files themselves: the copy's extended attributes and
// folder blocks the count cannot see, and the little a full volume needs to
// stay usable for everyone else.
constexpr std::uint64_t fixedMargin = 16ull * 1024 * 1024;

std::uint64_t spaceNeededFor(std::uint64_t payloadSize)
{
    return payloadSize + payloadSize / 10 + fixedMargin;
}

} // namespace

void InstallTransaction::checkFreeSpace() const
{
    // An update frees the previous copy's room only after the new copy is
    // complete, so that room does not count here.
    auto volume = platform::volumeSpace(root_);
    auto needed = spaceNeededFor(platform::treeSize(*source_, volume.blockSize));
    record_.step("space needed " + message::byteCountText(needed) + ", free " + message::byteCountText(volume.available));
    if (needed > volume.available)
        throw InstallerFailure(message::notEnoughSpace(root_.path(), needed, volume.available));
}

} // namespace quillmark::transaction
