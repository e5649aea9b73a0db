#include "platform/files/uuid.hpp"

#include "platform/error.hpp"

#include <array>
#include <cerrno>
#include <cstdint>
#include <sys/random.h>

namespace quillmark::platform {

std::string randomUUIDText()
{
    std::array<std::uint8_t, 16> bytes {};
    for (std::size_t filled = 0; filled < bytes.size();) {
        ssize_t count = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw posixError(errno, "read random bytes from", "the kernel");
        }
        filled += static_cast<std::size_t>(count);
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);

    constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

} // namespace quillmark::platform
