#pragma once

#include "platform/file_url.hpp"

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmark::platform {

// One running application as it was when the list was taken.
class RunningApplication {
public:
    virtual ~RunningApplication() = default;
    virtual std::optional<std::string> bundleIdentifier() const = 0;
    virtual std::optional<FileURL> bundleURL() const = 0;
    // Asks the process itself, so it turns true once the application has gone.
    virtual bool isTerminated() const = 0;
    // The normal quit request, which the application may delay or decline.
    // Never forces it.
    virtual void requestQuit() = 0;
};

using RunningApplications = std::vector<std::shared_ptr<RunningApplication>>;

class Workspace {
public:
    virtual ~Workspace() = default;
    virtual RunningApplications runningApplications() const = 0;
    // Starts a new, activated instance of the application bundle, even when
    // one runs already. The completion, on any thread, gets nullptr or the
    // reason it could not be started.
    virtual void openApplication(const FileURL& bundle, std::function<void(std::exception_ptr error)> completion) = 0;
};

} // namespace quillmark::platform
