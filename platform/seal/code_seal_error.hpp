#pragma once

#include "platform/error.hpp"

#include <string>
#include <string_view>

namespace quillmark::platform {

// Errors of signing and of reading a seal for display. Verification never
// throws these: it reports a status instead.
inline constexpr std::string_view codeSealErrorDomain = "code-seal";

namespace codeSealErrorCode {
inline constexpr long badKey = 1;
inline constexpr long cryptography = 2;
inline constexpr long notABundle = 3;
inline constexpr long unsealableItem = 4;
inline constexpr long noSeal = 5;
inline constexpr long damagedSeal = 6;
} // namespace codeSealErrorCode

inline Error codeSealError(long code, std::string description)
{
    return Error(std::string(codeSealErrorDomain), code, std::move(description));
}

} // namespace quillmark::platform
