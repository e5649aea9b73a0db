#pragma once

#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace quillmark::testing {

// What an exact copy must keep of one item, read without following links.
struct ItemSnapshot {
    char kind = '?'; // 'f' file, 'd' folder, 'l' link
    unsigned mode = 0;
    std::string contents; // file bytes or link target
    long long modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    std::vector<std::pair<std::string, std::string>> extendedAttributes; // user.* only, sorted

    friend bool operator==(const ItemSnapshot&, const ItemSnapshot&) = default;
};

std::ostream& operator<<(std::ostream& stream, const ItemSnapshot& item);

// Every item under `root` (the root itself under ""), by relative path.
std::map<std::string, ItemSnapshot> snapshotTree(const std::string& root);

void setExtendedAttribute(const std::string& path, const std::string& name, const std::string& value);
// Sets the access and modification times of the item itself (links not followed).
void setTimes(const std::string& path, long long seconds, long nanoseconds);

} // namespace quillmark::testing
