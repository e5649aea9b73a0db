#include "platform/plist/xml_property_list_check.hpp"

#include <vector>

namespace quillmark::platform {

std::optional<std::string> xmlPropertyListFault(std::string_view bytes, std::size_t maximumKeysPerDictionary)
{
    // Keys counted so far in each dictionary that is open at this point.
    std::vector<std::size_t> open;
    std::size_t keysOutside = 0;
    for (auto at = bytes.find('<'); at != std::string_view::npos; at = bytes.find('<', at + 1)) {
        auto tag = bytes.substr(at);
        if (tag.starts_with("<dict>")) {
            open.push_back(0);
        } else if (tag.starts_with("</dict>")) {
            if (!open.empty())
                open.pop_back();
        } else if (tag.starts_with("<key>")) {
            auto& keys = open.empty() ? keysOutside : open.back();
            if (++keys > maximumKeysPerDictionary)
                return "a dictionary holds more than " + std::to_string(maximumKeysPerDictionary) + " keys.";
        }
    }
    return std::nullopt;
}

} // namespace quillmark::platform
