#pragma once

#include "platform/file_url.hpp"

#include <exception>
#include <mutex>
#include <optional>
#include <string>

namespace quillmark {

// A bundle that passed inspection: where it is and which release it carries.
struct InstalledIdentity {
    platform::FileURL url;
    std::string version;
    std::string build;
    std::string releaseVersion;
};

// One installation root and what lies in it. At most one of `existing` and
// `conflict` is present.
struct InstallerLocation {
    platform::FileURL root;
    std::optional<InstalledIdentity> existing;
    std::optional<std::string> conflict;
};

// Where a finished installation put the application, and the reservation the
// user must read when it succeeded with one.
struct InstallerResult {
    platform::FileURL installed;
    std::optional<std::string> warning;
};

// A whole previous copy (it passes the seal check) that an interrupted
// installation left in a staging folder of one root.
struct KeptCopy {
    platform::FileURL root;
    // The staging folder that holds it, with whatever else was left there.
    platform::FileURL staging;
    // The copy itself: `url` lies inside `staging`.
    InstalledIdentity previous;
    // Nothing is installed in the root now, so the copy can go back.
    bool destinationEmpty = false;
};

// What installing the payload over one location means.
enum class InstallOperation { newInstall, update, reinstall, olderVersion };

// A refusal of the installer's own, carrying the sentence the user reads.
class InstallerFailure : public std::exception {
public:
    explicit InstallerFailure(std::string message)
        : message_(std::move(message))
    {
    }

    const std::string& message() const { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// The user cancelled; the controller answers it with a text of its own.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "The installation was cancelled."; }
};

// The flag through which the controller cancels work running on another
// thread. It only ever goes from false to true; the controller replaces the
// object rather than resetting it.
class InstallCancellation {
public:
    void request()
    {
        std::lock_guard guard(lock_);
        value_ = true;
    }

    bool test() const
    {
        std::lock_guard guard(lock_);
        return value_;
    }

private:
    mutable std::mutex lock_;
    bool value_ = false;
};

} // namespace quillmark
