#pragma once

#include "platform/desktop/application_delegate.hpp"
#include "platform/qt/installer_window.hpp"
#include "platform/qt/qt_controls.hpp"
#include "platform/qt/qt_desktop.hpp"

#include <QApplication>
#include <QTest>

#include <memory>
#include <optional>

namespace quillmark::platform::qt {

// A delegate that records what it was asked and answers as told.
struct RecordingDelegate final : ApplicationDelegate {
    void applicationDidFinishLaunching() override { ++launches; }
    TerminateReply applicationShouldTerminate() override
    {
        ++terminateRequests;
        return terminateReply;
    }
    bool windowShouldClose() override
    {
        ++closeRequests;
        return false;
    }

    int launches = 0;
    int terminateRequests = 0;
    int closeRequests = 0;
    TerminateReply terminateReply = TerminateReply::cancel;
};

// The controls a controller would own, shown in a real window on a real
// desktop object, with the actions counted.
struct ShownWindow {
    explicit ShownWindow(std::optional<FileURL> image = std::nullopt)
    {
        desktop.setDelegate(delegate);
        desktop.showWindow(WindowDescription {
            .title = "Install or Update Quillmark",
            .image = std::move(image),
            .titleLabel = *title,
            .descriptionLabel = *description,
            .destinations = *destinations,
            .statusLabel = *status,
            .progress = *progress,
            .secondary = *secondary,
            .primary = *primary,
            .primaryAction = [this] { ++primaryPresses; },
            .secondaryAction = [this] { ++secondaryPresses; },
            .destinationsAction = [this] { ++destinationPicks; },
        });
        window()->activateWindow();
        QApplication::setActiveWindow(window());
        [[maybe_unused]] bool active = QTest::qWaitForWindowActive(window());
        settle();
    }

    InstallerWindow* window() const { return desktop.window(); }

    // Lets pending layout and paint requests run, including those that
    // layouts post while they run.
    static void settle()
    {
        for (int i = 0; i < 6; ++i)
            QApplication::processEvents();
    }

    QtControlFactory factory;
    std::unique_ptr<QtLabel> title = std::make_unique<QtLabel>("Install or Update Quillmark");
    std::unique_ptr<QtLabel> description = std::make_unique<QtLabel>("Checking the application on this disk…");
    std::unique_ptr<QtLabel> status = std::make_unique<QtLabel>("");
    std::unique_ptr<QtPopUpButton> destinations = std::make_unique<QtPopUpButton>();
    std::unique_ptr<QtProgressIndicator> progress = std::make_unique<QtProgressIndicator>();
    std::unique_ptr<QtButton> secondary = std::make_unique<QtButton>("Cancel");
    std::unique_ptr<QtButton> primary = std::make_unique<QtButton>("Install Quillmark");
    RecordingDelegate delegate;
    int ends = 0;
    QtDesktop desktop { [this] { ++ends; } };
    int primaryPresses = 0;
    int secondaryPresses = 0;
    int destinationPicks = 0;
};

} // namespace quillmark::platform::qt
