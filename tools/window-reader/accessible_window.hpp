#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct _AtspiAccessible;

namespace quillmark::windowreader {

// `text` fit for one tab-separated line of a log: a line break as "\n", a
// tab as a space.
std::string oneLine(const std::string& text);

// One object of an application as assistive technologies see it.
struct AccessibleNode {
    std::shared_ptr<_AtspiAccessible> object;
    int depth = 0;
    std::string role;
    std::string name;
    std::string description;
    // The Text interface's whole text, when the object has one.
    std::optional<std::string> text;
    std::vector<std::string> actions;
    bool enabled = false;
    bool focused = false;
    bool showing = false;
    bool selected = false;
    // The object is gone, or going: its window is being torn down.
    bool defunct = false;
};

// Everything an application shows over the accessibility bus at one moment:
// its windows and their objects, depth first, in the order of the tree.
struct ApplicationSnapshot {
    std::vector<AccessibleNode> nodes;

    // The first object with this role (and name, when given).
    const AccessibleNode* find(const std::string& role, const std::optional<std::string>& name = std::nullopt) const;
    // The objects directly below `parent`, which is one of `nodes`.
    std::vector<const AccessibleNode*> childrenOf(const AccessibleNode& parent) const;
    // The objects with this role.
    std::vector<const AccessibleNode*> all(const std::string& role) const;
    const AccessibleNode* focused() const;

    // The installer's window, read as a user of a screen reader hears it.
    std::optional<std::string> statusText() const;
    std::optional<std::string> headline() const;
    // A push button's state by its name: nothing when there is no such button.
    std::optional<bool> buttonEnabled(const std::string& name) const;
    // The destination pop-up's items, in order.
    std::vector<std::string> popUpItems() const;
    // The name of the pop-up's current item, as it reads when closed.
    std::optional<std::string> popUpValue() const;
    // The top-level dialog in front of the window, if any.
    const AccessibleNode* sheet() const;

    // Whether the window is being torn down (or not up yet): no window that
    // is showing, or an object that is already gone. Such a reading is half
    // of what the user saw and is not worth keeping.
    bool isTornDown() const;

    // The whole state on one line, for logs and failure messages.
    std::string describe() const;
};

// A connection to the accessibility bus of the session this process runs in
// (found, like any assistive technology finds it, through the session bus),
// reading the one application that runs as process `pid`.
class ApplicationReader {
public:
    // Nothing, with the reason in `whyNot`, when the application does not
    // appear on the bus within `limit`.
    static std::unique_ptr<ApplicationReader> attach(int pid, std::chrono::milliseconds limit, std::string& whyNot);
    ~ApplicationReader();
    ApplicationReader(const ApplicationReader&) = delete;
    ApplicationReader& operator=(const ApplicationReader&) = delete;

    ApplicationSnapshot snapshot();
    // Reads until `wanted` holds or `limit` passes; the last snapshot either way.
    ApplicationSnapshot waitFor(const std::function<bool(const ApplicationSnapshot&)>& wanted,
        std::chrono::milliseconds limit, bool* held = nullptr);

    // Performs the object's accessible action of this name, as a screen
    // reader does when its user activates an object.
    bool perform(const AccessibleNode& node, const std::string& action);

    // The texts the status line announced, in order, one for each
    // announcement the application sent. An announcement carries only its
    // source, so each text is the source's name when the announcement is
    // read.
    std::vector<std::string> announcements();

private:
    explicit ApplicationReader(std::shared_ptr<_AtspiAccessible> application);
    void pumpEvents();

    std::shared_ptr<_AtspiAccessible> application_;
    struct Listener;
    std::unique_ptr<Listener> listener_;
};

} // namespace quillmark::windowreader
