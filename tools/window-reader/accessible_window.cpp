#include "tools/window-reader/accessible_window.hpp"

#include <atspi/atspi.h>

#include <algorithm>
#include <thread>

namespace quillmark::windowreader {
namespace {

using namespace std::chrono_literals;

std::shared_ptr<AtspiAccessible> adopt(AtspiAccessible* object)
{
    return std::shared_ptr<AtspiAccessible>(object, [](AtspiAccessible* held) {
        if (held)
            g_object_unref(held);
    });
}

// A GLib string turned into ours; the bus may answer with an error instead.
std::string take(gchar* text, GError* error)
{
    if (error)
        g_error_free(error);
    std::string result = text ? text : "";
    g_free(text);
    return result;
}

std::string roleOf(AtspiAccessible* object)
{
    GError* error = nullptr;
    return take(atspi_accessible_get_role_name(object, &error), error);
}

std::string nameOf(AtspiAccessible* object)
{
    GError* error = nullptr;
    return take(atspi_accessible_get_name(object, &error), error);
}

std::optional<std::string> textOf(AtspiAccessible* object)
{
    AtspiText* text = atspi_accessible_get_text_iface(object);
    if (!text)
        return std::nullopt;
    GError* error = nullptr;
    gint count = atspi_text_get_character_count(text, &error);
    std::optional<std::string> result;
    if (!error)
        result = take(atspi_text_get_text(text, 0, count, &error), error);
    else
        g_error_free(error);
    g_object_unref(text);
    return result;
}

std::vector<std::string> actionsOf(AtspiAccessible* object)
{
    std::vector<std::string> names;
    AtspiAction* action = atspi_accessible_get_action_iface(object);
    if (!action)
        return names;
    GError* error = nullptr;
    gint count = atspi_action_get_n_actions(action, &error);
    if (error) {
        g_error_free(error);
        count = 0;
    }
    for (gint i = 0; i < count; ++i) {
        error = nullptr;
        names.push_back(take(atspi_action_get_action_name(action, i, &error), error));
    }
    g_object_unref(action);
    return names;
}

void collect(AtspiAccessible* object, int depth, std::vector<AccessibleNode>& nodes)
{
    AccessibleNode node;
    node.object = adopt(static_cast<AtspiAccessible*>(g_object_ref(object)));
    node.depth = depth;
    node.role = roleOf(object);
    node.name = nameOf(object);
    GError* error = nullptr;
    node.description = take(atspi_accessible_get_description(object, &error), error);
    node.text = textOf(object);
    node.actions = actionsOf(object);
    if (AtspiStateSet* states = atspi_accessible_get_state_set(object)) {
        node.enabled = atspi_state_set_contains(states, ATSPI_STATE_ENABLED);
        node.focused = atspi_state_set_contains(states, ATSPI_STATE_FOCUSED);
        node.showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        node.selected = atspi_state_set_contains(states, ATSPI_STATE_SELECTED);
        node.defunct = atspi_state_set_contains(states, ATSPI_STATE_DEFUNCT);
        g_object_unref(states);
    }
    nodes.push_back(std::move(node));

    error = nullptr;
    gint count = atspi_accessible_get_child_count(object, &error);
    if (error) {
        g_error_free(error);
        return;
    }
    for (gint i = 0; i < count; ++i) {
        error = nullptr;
        auto child = adopt(atspi_accessible_get_child_at_index(object, i, &error));
        if (error)
            g_error_free(error);
        if (child)
            collect(child.get(), depth + 1, nodes);
    }
}

} // namespace

std::string oneLine(const std::string& text)
{
    std::string result;
    for (char c : text) {
        if (c == '\n')
            result += "\\n";
        else if (c == '\t')
            result += ' ';
        else
            result += c;
    }
    return result;
}

const AccessibleNode* ApplicationSnapshot::find(const std::string& role, const std::optional<std::string>& name) const
{
    for (const auto& node : nodes) {
        if (node.role == role && (!name || node.name == *name))
            return &node;
    }
    return nullptr;
}

std::vector<const AccessibleNode*> ApplicationSnapshot::childrenOf(const AccessibleNode& parent) const
{
    std::vector<const AccessibleNode*> children;
    auto index = static_cast<std::size_t>(&parent - nodes.data());
    for (std::size_t i = index + 1; i < nodes.size() && nodes[i].depth > parent.depth; ++i) {
        if (nodes[i].depth == parent.depth + 1)
            children.push_back(&nodes[i]);
    }
    return children;
}

std::vector<const AccessibleNode*> ApplicationSnapshot::all(const std::string& role) const
{
    std::vector<const AccessibleNode*> found;
    for (const auto& node : nodes) {
        if (node.role == role)
            found.push_back(&node);
    }
    return found;
}

const AccessibleNode* ApplicationSnapshot::focused() const
{
    // The innermost focused object: a window is focused along with its control.
    const AccessibleNode* found = nullptr;
    for (const auto& node : nodes) {
        if (node.focused && node.role != "frame" && node.role != "dialog" && node.role != "alert")
            found = &node;
    }
    return found;
}

std::optional<std::string> ApplicationSnapshot::statusText() const
{
    const AccessibleNode* status = find("status bar");
    if (!status)
        return std::nullopt;
    return status->name;
}

std::optional<std::string> ApplicationSnapshot::headline() const
{
    // The first label of the window: images and fillers come before it.
    const AccessibleNode* frame = find("frame");
    if (!frame)
        return std::nullopt;
    auto index = static_cast<std::size_t>(frame - nodes.data());
    for (std::size_t i = index + 1; i < nodes.size() && nodes[i].depth > frame->depth; ++i) {
        if (nodes[i].role == "label")
            return nodes[i].name;
    }
    return std::nullopt;
}

std::optional<bool> ApplicationSnapshot::buttonEnabled(const std::string& name) const
{
    const AccessibleNode* frame = find("frame");
    for (const auto& node : nodes) {
        if (node.role == "push button" && node.name == name && node.showing && (!frame || &node > frame))
            return node.enabled;
    }
    return std::nullopt;
}

std::vector<std::string> ApplicationSnapshot::popUpItems() const
{
    std::vector<std::string> items;
    const AccessibleNode* box = find("combo box");
    if (!box)
        return items;
    for (const AccessibleNode* list : childrenOf(*box)) {
        for (const AccessibleNode* item : childrenOf(*list))
            items.push_back(item->name);
    }
    return items;
}

std::optional<std::string> ApplicationSnapshot::popUpValue() const
{
    const AccessibleNode* box = find("combo box");
    if (!box)
        return std::nullopt;
    for (const AccessibleNode* list : childrenOf(*box)) {
        for (const AccessibleNode* item : childrenOf(*list)) {
            if (item->selected)
                return item->name;
        }
    }
    return std::nullopt;
}

const AccessibleNode* ApplicationSnapshot::sheet() const
{
    for (const auto& node : nodes) {
        if (node.depth == 1 && (node.role == "dialog" || node.role == "alert" || node.role == "file chooser") && node.showing)
            return &node;
    }
    return nullptr;
}

bool ApplicationSnapshot::isTornDown() const
{
    const AccessibleNode* frame = find("frame");
    if (!frame || !frame->showing)
        return true;
    return std::any_of(nodes.begin(), nodes.end(), [](const AccessibleNode& node) { return node.defunct; });
}

std::string ApplicationSnapshot::describe() const
{
    auto enabled = [](const AccessibleNode& node) { return node.enabled ? "enabled" : "disabled"; };
    std::string line;
    if (auto text = headline())
        line += "title=" + oneLine(*text);
    if (const AccessibleNode* box = find("combo box")) {
        line += "\tdestinations=" + std::string(enabled(*box)) + ":";
        const auto value = popUpValue();
        for (const auto& item : popUpItems())
            line += std::string(" ") + (value && item == *value ? "*" : "") + "[" + item + "]";
    }
    if (auto text = statusText())
        line += "\tstatus=" + oneLine(*text);
    if (const AccessibleNode* progress = find("progress bar"))
        line += std::string("\tprogress=") + (progress->showing ? "running" : "hidden");
    const AccessibleNode* frame = find("frame");
    for (const auto& node : nodes) {
        if (node.role == "push button" && node.showing && frame && node.depth > frame->depth && !sheet())
            line += "\tbutton=" + node.name + " (" + enabled(node) + ")";
    }
    if (const AccessibleNode* front = sheet()) {
        line += "\tsheet=" + oneLine(front->name);
        for (const AccessibleNode* node = front + 1; node < nodes.data() + nodes.size() && node->depth > front->depth; ++node) {
            if (node->role == "push button")
                line += " [" + node->name + "]";
        }
    }
    if (const AccessibleNode* focus = focused())
        line += "\tfocus=" + focus->role + ":" + oneLine(focus->name);
    return line;
}

struct ApplicationReader::Listener {
    AtspiEventListener* listener = nullptr;
    std::vector<std::string> announced;
};

namespace {

void heard(AtspiEvent* event, void* data)
{
    // The listener owns the event it is handed.
    std::unique_ptr<AtspiEvent, void (*)(AtspiEvent*)> owned(event, [](AtspiEvent* held) {
        g_boxed_free(ATSPI_TYPE_EVENT, held);
    });
    auto* listener = static_cast<std::vector<std::string>*>(data);
    if (!event->source || roleOf(event->source) != "status bar")
        return;
    // The toolkit's announcement carries the object whose name changed, not
    // the new name: the text is asked of the object itself.
    listener->push_back(nameOf(event->source));
}

} // namespace

std::unique_ptr<ApplicationReader> ApplicationReader::attach(int pid, std::chrono::milliseconds limit, std::string& whyNot)
{
    if (atspi_init() > 1) {
        whyNot = "the accessibility library could not start";
        return nullptr;
    }
    atspi_set_timeout(5000, 15000);
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::string seen;
    while (std::chrono::steady_clock::now() < deadline) {
        seen.clear();
        auto desktop = adopt(atspi_get_desktop(0));
        // The list of applications changes while we look for ours.
        if (desktop) {
            atspi_accessible_set_cache_mask(desktop.get(), ATSPI_CACHE_NONE);
            atspi_accessible_clear_cache(desktop.get());
        }
        GError* error = nullptr;
        gint count = desktop ? atspi_accessible_get_child_count(desktop.get(), &error) : 0;
        if (error) {
            g_error_free(error);
            count = 0;
        }
        for (gint i = 0; i < count; ++i) {
            error = nullptr;
            auto application = adopt(atspi_accessible_get_child_at_index(desktop.get(), i, &error));
            if (error) {
                g_error_free(error);
                continue;
            }
            if (!application)
                continue;
            guint applicationPid = atspi_accessible_get_process_id(application.get(), &error);
            if (error) {
                g_error_free(error);
                continue;
            }
            if (static_cast<int>(applicationPid) != pid) {
                seen += " " + std::to_string(applicationPid);
                continue;
            }
            // Read afresh every time: what the window shows changes under us.
            atspi_accessible_set_cache_mask(application.get(), ATSPI_CACHE_NONE);
            std::unique_ptr<ApplicationReader> reader(new ApplicationReader(application));
            // Only a window, not the bare application object, is worth reading.
            bool shown = false;
            reader->waitFor([](const ApplicationSnapshot& snapshot) { return snapshot.find("frame") != nullptr; },
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()), &shown);
            if (!shown) {
                whyNot = "the application's window did not appear on the accessibility bus";
                return nullptr;
            }
            return reader;
        }
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::this_thread::sleep_for(50ms);
    }
    whyNot = "process " + std::to_string(pid) + " did not appear on the accessibility bus (it has"
        + (seen.empty() ? std::string(" no application") : " the applications of processes" + seen) + ")";
    return nullptr;
}

ApplicationReader::ApplicationReader(std::shared_ptr<_AtspiAccessible> application)
    : application_(std::move(application))
    , listener_(std::make_unique<Listener>())
{
    listener_->listener = atspi_event_listener_new(heard, &listener_->announced, nullptr);
    GError* error = nullptr;
    atspi_event_listener_register(listener_->listener, "object:property-change:accessible-name", &error);
    if (error)
        g_error_free(error);
}

ApplicationReader::~ApplicationReader()
{
    if (listener_->listener) {
        GError* error = nullptr;
        atspi_event_listener_deregister(listener_->listener, "object:property-change:accessible-name", &error);
        if (error)
            g_error_free(error);
        g_object_unref(listener_->listener);
    }
}

void ApplicationReader::pumpEvents()
{
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

ApplicationSnapshot ApplicationReader::snapshot()
{
    pumpEvents();
    ApplicationSnapshot snapshot;
    atspi_accessible_clear_cache(application_.get());
    GError* error = nullptr;
    gint count = atspi_accessible_get_child_count(application_.get(), &error);
    if (error) {
        g_error_free(error);
        return snapshot;
    }
    for (gint i = 0; i < count; ++i) {
        error = nullptr;
        auto window = adopt(atspi_accessible_get_child_at_index(application_.get(), i, &error));
        if (error)
            g_error_free(error);
        if (window)
            collect(window.get(), 1, snapshot.nodes);
    }
    return snapshot;
}

ApplicationSnapshot ApplicationReader::waitFor(const std::function<bool(const ApplicationSnapshot&)>& wanted,
    std::chrono::milliseconds limit, bool* held)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        ApplicationSnapshot current = snapshot();
        bool holds = wanted(current);
        if (holds || std::chrono::steady_clock::now() >= deadline) {
            if (held)
                *held = holds;
            return current;
        }
        std::this_thread::sleep_for(20ms);
    }
}

bool ApplicationReader::perform(const AccessibleNode& node, const std::string& action)
{
    AtspiAction* actions = atspi_accessible_get_action_iface(node.object.get());
    if (!actions)
        return false;
    const auto names = actionsOf(node.object.get());
    auto found = std::find(names.begin(), names.end(), action);
    bool done = false;
    if (found != names.end()) {
        GError* error = nullptr;
        done = atspi_action_do_action(actions, static_cast<gint>(found - names.begin()), &error);
        if (error) {
            g_error_free(error);
            done = false;
        }
    }
    g_object_unref(actions);
    return done;
}

std::vector<std::string> ApplicationReader::announcements()
{
    pumpEvents();
    return listener_->announced;
}

} // namespace quillmark::windowreader
