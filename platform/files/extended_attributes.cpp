#include "platform/files/extended_attributes.hpp"

#include "platform/error.hpp"

#include <cerrno>
#include <functional>
#include <string_view>
#include <sys/xattr.h>

namespace quillmark::platform {
namespace {

constexpr std::string_view readAction = "read the extended attributes of";
constexpr std::string_view writeAction = "set the extended attributes of";

// The list and value calls answer ERANGE when the item grew between asking
// for the size and reading; ask again until the two agree.
std::string readSized(const std::function<ssize_t(char*, std::size_t)>& call, const std::string& path)
{
    for (;;) {
        ssize_t size = call(nullptr, 0);
        if (size < 0)
            throw fileError(errno, FileAccess::reading, readAction, path);
        std::string bytes(static_cast<std::size_t>(size), '\0');
        if (size == 0)
            return bytes;
        ssize_t read = call(bytes.data(), bytes.size());
        if (read >= 0) {
            bytes.resize(static_cast<std::size_t>(read));
            return bytes;
        }
        if (errno != ERANGE)
            throw fileError(errno, FileAccess::reading, readAction, path);
    }
}

ExtendedAttributes collect(const std::function<ssize_t(char*, std::size_t)>& list,
    const std::function<ssize_t(const char*, char*, std::size_t)>& value, const std::string& path)
{
    ExtendedAttributes attributes;
    // A volume without extended attributes, such as a disk image made
    // without them, holds none on any item; that is not a failure to read.
    if (list(nullptr, 0) < 0 && errno == ENOTSUP)
        return attributes;
    std::string names = readSized(list, path);
    for (std::size_t start = 0; start < names.size();) {
        std::string name = names.c_str() + start;
        start += name.size() + 1;
        if (name.empty())
            continue;
        attributes.emplace_back(name,
            readSized([&](char* buffer, std::size_t size) { return value(name.c_str(), buffer, size); }, path));
    }
    return attributes;
}

} // namespace

ExtendedAttributes extendedAttributesOfItem(const std::string& path)
{
    return collect([&](char* buffer, std::size_t size) { return ::llistxattr(path.c_str(), buffer, size); },
        [&](const char* name, char* buffer, std::size_t size) { return ::lgetxattr(path.c_str(), name, buffer, size); },
        path);
}

ExtendedAttributes extendedAttributesOfOpenItem(int item, const std::string& path)
{
    return collect([&](char* buffer, std::size_t size) { return ::flistxattr(item, buffer, size); },
        [&](const char* name, char* buffer, std::size_t size) { return ::fgetxattr(item, name, buffer, size); },
        path);
}

void setExtendedAttributesOfOpenItem(int item, const ExtendedAttributes& attributes, const std::string& path)
{
    for (const auto& [name, value] : attributes) {
        if (::fsetxattr(item, name.c_str(), value.data(), value.size(), 0) != 0)
            throw fileError(errno, FileAccess::writing, writeAction, path);
    }
}

void setExtendedAttributesOfItem(const std::string& path, const ExtendedAttributes& attributes)
{
    for (const auto& [name, value] : attributes) {
        if (::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) != 0)
            throw fileError(errno, FileAccess::writing, writeAction, path);
    }
}

} // namespace quillmark::platform
