#pragma once

#include <exception>
#include <memory>
#include <string>
#include <string_view>

namespace quillmark::platform {

// An error of a platform service: where it comes from (domain), what kind it is
// (code), a sentence for the user, and the lower-level error that caused it.
class Error : public std::exception {
public:
    Error(std::string domain, long code, std::string description,
        std::shared_ptr<const Error> underlying = nullptr);

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const std::string& description() const { return description_; }
    const std::shared_ptr<const Error>& underlying() const { return underlying_; }

    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::string domain_;
    long code_;
    std::string description_;
    std::shared_ptr<const Error> underlying_;
};

inline constexpr std::string_view fileErrorDomain = "file";
inline constexpr std::string_view posixErrorDomain = "posix";
inline constexpr std::string_view propertyListErrorDomain = "property-list";

// Codes of the "file" domain, numbered like the platform file errors the
// installer's callers know, so that permission and space problems keep their
// meaning whichever layer raised them.
namespace fileErrorCode {
inline constexpr long noSuchFile = 4;
inline constexpr long readUnknown = 256;
inline constexpr long readNoPermission = 257;
inline constexpr long readCorruptFile = 259;
inline constexpr long readTooLarge = 263;
inline constexpr long writeUnknown = 512;
inline constexpr long writeNoPermission = 513;
inline constexpr long writeFileExists = 516;
inline constexpr long writeOutOfSpace = 640;
inline constexpr long writeVolumeReadOnly = 642;
} // namespace fileErrorCode

namespace propertyListErrorCode {
inline constexpr long unreadable = 3840;
} // namespace propertyListErrorCode

// The POSIX error for errno value `number`, described as what failed on `path`.
Error posixError(int number, std::string_view action, std::string_view path);

enum class FileAccess { reading, writing };

// A "file" domain error for a failed file operation, with the POSIX error as
// its underlying error. The code follows from errno and from whether the
// operation read or wrote.
Error fileError(int number, FileAccess access, std::string_view action, std::string_view path);

} // namespace quillmark::platform
