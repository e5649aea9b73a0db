#pragma once

#include "platform/seal/code_seal.hpp"

#include <optional>
#include <string>

namespace quillmark::platform {

struct SealCheckResult {
    SealStatus status = sealStatus::success;
    std::string failure; // a sentence naming the offending item; empty on success
};

class KnownDigests;

// The whole strict check of the bundle opened as `bundleFd`. `displayPath`
// only names the bundle in texts. With `known`, files unchanged since it
// recorded them are not read again (see digestFiles).
SealCheckResult checkBundleSeal(int bundleFd, const std::string& displayPath,
    const std::optional<std::string>& requiredIdentifier, KnownDigests* known = nullptr);

} // namespace quillmark::platform
