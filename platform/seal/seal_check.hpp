#pragma once

#include "platform/seal/code_seal.hpp"

#include <optional>
#include <string>

namespace quillmark::platform {

struct SealCheckResult {
    SealStatus status = sealStatus::success;
    std::string failure; // a sentence naming the offending item; empty on success
};

// The whole strict check of the bundle opened as `bundleFd`. `displayPath`
// only names the bundle in texts.
SealCheckResult checkBundleSeal(int bundleFd, const std::string& displayPath,
    const std::optional<std::string>& requiredIdentifier);

} // namespace quillmark::platform
