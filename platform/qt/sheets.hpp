#pragma once

#include "platform/desktop/desktop.hpp"

#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace quillmark::platform::qt {

// A window-modal question on `window`. Returns at once; `completion` runs on
// the main thread with 1000 for the first button, 1001 for the second, ...
// Escape, and any way of closing the sheet other than its own buttons,
// answers for the button titled "Cancel", or the last one. Assistive
// technologies know the sheet by its message.
QDialog* showAlertSheet(QWidget* window, const AlertDescription& alert, std::function<void(long response)> completion);

// A window-modal panel on `window` that picks one application bundle.
// Returns at once; `completion` runs on the main thread.
QDialog* showBundleOpenPanel(QWidget* window, const OpenPanelDescription& panel,
    std::function<void(long response, std::optional<FileURL> chosen)> completion);

} // namespace quillmark::platform::qt
