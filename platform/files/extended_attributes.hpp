#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quillmark::platform {

using ExtendedAttributes = std::vector<std::pair<std::string, std::string>>;

// The extended attributes (name and value) of the item at `path` itself; a
// final symbolic link is not followed. Throws a "file" error naming `path`.
ExtendedAttributes extendedAttributesOfItem(const std::string& path);
// The same for an open file or folder.
ExtendedAttributes extendedAttributesOfOpenItem(int item, const std::string& path);

// Gives an open file or folder the attributes; `path` names it in errors.
void setExtendedAttributesOfOpenItem(int item, const ExtendedAttributes& attributes, const std::string& path);
// Gives the item at `path` itself (a symbolic link is not followed) the attributes.
void setExtendedAttributesOfItem(const std::string& path, const ExtendedAttributes& attributes);

} // namespace quillmark::platform
