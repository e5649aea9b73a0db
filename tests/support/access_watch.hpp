#pragma once

#include <map>
#include <string>
#include <vector>

namespace quillmark::testing {

// Watches a folder and every folder in it with inotify and reports every item
// there that was opened or read since the watch began, so a test can prove
// that nothing outside a bundle was touched through a link.
class AccessWatch {
public:
    enum class Events { openedOrRead, readOnly };

    explicit AccessWatch(const std::string& folder, Events events = Events::openedOrRead);
    ~AccessWatch();
    AccessWatch(const AccessWatch&) = delete;
    AccessWatch& operator=(const AccessWatch&) = delete;

    // Names opened or read (or only read, with Events::readOnly) so far (a folder's own name when the folder itself
    // was opened); each call reports only what happened since the previous one.
    std::vector<std::string> accessed();

private:
    int fd_ = -1;
    std::map<int, std::string> folders_; // by watch descriptor
};

} // namespace quillmark::testing
