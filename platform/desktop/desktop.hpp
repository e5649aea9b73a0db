#pragma once

#include "platform/desktop/controls.hpp"
#include "platform/file_url.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quillmark::platform {

// Answers of an alert sheet: the first button answers 1000, the next 1001, ...
inline constexpr long alertFirstButtonReturn = 1000;
// Answers of the open panel.
inline constexpr long modalResponseCancel = 0;
inline constexpr long modalResponseOK = 1;

struct AlertDescription {
    std::string message;
    std::string informativeText;
    // In order: the proceeding button first.
    std::vector<std::string> buttons;
};

// An open panel that picks one application bundle (a folder named "*.app"),
// chosen as a whole like a file; other folders can only be browsed.
struct OpenPanelDescription {
    std::string title;
    std::string message;
    FileURL initialFolder;
};

// The one window of the installer: the controller's controls in layout order
// and the actions the window binds to them.
struct WindowDescription {
    std::string title;
    // The installer's own picture, shown above the headline when there is one.
    std::optional<FileURL> image;
    Label& titleLabel;
    Label& descriptionLabel;
    PopUpButton& destinations;
    Label& statusLabel;
    ProgressIndicator& progress;
    Button& secondary;
    Button& primary;
    std::function<void()> primaryAction;
    std::function<void()> secondaryAction;
    std::function<void()> destinationsAction;
};

// A timer firing on the main loop. No tick comes after invalidate(); dropping
// the last handle invalidates it too.
class RepeatingTimer {
public:
    virtual ~RepeatingTimer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
};

// The application as the controller sees it. Every call is made on the main
// thread, and every completion is delivered there.
class Desktop {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Desktop() = default;

    virtual void showWindow(const WindowDescription& window) = 0;
    // Brings the application to the front, ahead of every other application.
    virtual void activate() = 0;
    // Asks the delegate's applicationShouldTerminate first; ends the process
    // only when it answers `now`. The delegate may call terminate() again from
    // inside that question (a wait it ends at once); an inner `now` ends the
    // process even though the outer question answers `cancel`.
    virtual void terminate() = 0;

    // A sheet on the window. Returns at once; the completion gets the answer.
    virtual void showAlert(const AlertDescription& alert, std::function<void(long response)> completion) = 0;
    // A sheet on the window. Returns at once; the completion gets the answer
    // and the chosen bundle, which may be absent even when the answer is OK.
    virtual void showOpenPanel(const OpenPanelDescription& panel,
        std::function<void(long response, std::optional<FileURL> chosen)> completion) = 0;

    // The first tick comes one interval after scheduling. The tick receives
    // its own timer, so it can stop it.
    virtual std::shared_ptr<RepeatingTimer> scheduleRepeatingTimer(Clock::duration interval,
        std::function<void(RepeatingTimer& timer)> tick) = 0;
    // A clock that never jumps, for deadlines.
    virtual Clock::time_point now() const = 0;
};

} // namespace quillmark::platform
