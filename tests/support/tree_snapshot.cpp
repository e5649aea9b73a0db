#include "tests/support/tree_snapshot.hpp"

#include "tests/support/temporary_folder.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace quillmark::testing {
namespace {

[[noreturn]] void fail(const std::string& action, const std::string& path)
{
    throw std::runtime_error("Could not " + action + " " + path + ": " + std::strerror(errno));
}

std::vector<std::pair<std::string, std::string>> userAttributes(const std::string& path)
{
    std::vector<std::pair<std::string, std::string>> attributes;
    char names[4096];
    ssize_t size = ::llistxattr(path.c_str(), names, sizeof names);
    if (size < 0)
        fail("list the extended attributes of", path);
    for (ssize_t start = 0; start < size;) {
        std::string name = names + start;
        start += static_cast<ssize_t>(name.size()) + 1;
        if (name.rfind("user.", 0) != 0)
            continue;
        char value[4096];
        ssize_t length = ::lgetxattr(path.c_str(), name.c_str(), value, sizeof value);
        if (length < 0)
            fail("read an extended attribute of", path);
        attributes.emplace_back(name, std::string(value, static_cast<std::size_t>(length)));
    }
    std::sort(attributes.begin(), attributes.end());
    return attributes;
}

void snapshotInto(std::map<std::string, ItemSnapshot>& tree, const std::string& root, const std::string& relative)
{
    std::string path = relative.empty() ? root : root + "/" + relative;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        fail("read the attributes of", path);
    ItemSnapshot item;
    item.mode = status.st_mode & 07777;
    item.modifiedSeconds = status.st_mtim.tv_sec;
    item.modifiedNanoseconds = status.st_mtim.tv_nsec;
    item.extendedAttributes = userAttributes(path);
    if (S_ISREG(status.st_mode)) {
        item.kind = 'f';
        item.contents = readFile(path);
    } else if (S_ISLNK(status.st_mode)) {
        item.kind = 'l';
        char target[4096];
        ssize_t length = ::readlink(path.c_str(), target, sizeof target);
        if (length < 0)
            fail("read the link", path);
        item.contents.assign(target, static_cast<std::size_t>(length));
        item.mode = 0; // links have no mode of their own on Linux
    } else if (S_ISDIR(status.st_mode)) {
        item.kind = 'd';
        DIR* folder = ::opendir(path.c_str());
        if (folder == nullptr)
            fail("list", path);
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(folder)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(folder);
        for (const auto& name : names)
            snapshotInto(tree, root, relative.empty() ? name : relative + "/" + name);
    }
    tree[relative] = std::move(item);
}

} // namespace

std::ostream& operator<<(std::ostream& stream, const ItemSnapshot& item)
{
    stream << item.kind << " mode " << std::oct << item.mode << std::dec << " mtime " << item.modifiedSeconds << "."
           << item.modifiedNanoseconds << " " << item.contents.size() << " bytes";
    for (const auto& [name, value] : item.extendedAttributes)
        stream << " " << name << "=" << value;
    return stream;
}

std::map<std::string, ItemSnapshot> snapshotTree(const std::string& root)
{
    std::map<std::string, ItemSnapshot> tree;
    snapshotInto(tree, root, "");
    return tree;
}

void setExtendedAttribute(const std::string& path, const std::string& name, const std::string& value)
{
    if (::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) != 0)
        fail("set an extended attribute of", path);
}

void setTimes(const std::string& path, long long seconds, long nanoseconds)
{
    const struct timespec times[2] = { { seconds, nanoseconds }, { seconds, nanoseconds } };
    if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        fail("set the times of", path);
}

} // namespace quillmark::testing
