#pragma once

#include "platform/desktop/desktop.hpp"

#include <QTimer>

#include <functional>
#include <memory>

namespace quillmark::platform::qt {

// A repeating Qt timer on the main loop. Invalidating it, or dropping the
// last handle, stops it; a tick already on its way is then dropped too.
class QtRepeatingTimer final : public RepeatingTimer, public std::enable_shared_from_this<QtRepeatingTimer> {
public:
    static std::shared_ptr<QtRepeatingTimer> start(Desktop::Clock::duration interval,
        std::function<void(RepeatingTimer& timer)> tick);

    void invalidate() override;
    bool isValid() const override { return valid_; }

private:
    explicit QtRepeatingTimer(std::function<void(RepeatingTimer& timer)> tick);

    std::function<void(RepeatingTimer& timer)> tick_;
    bool valid_ = true;
    QTimer timer_;
};

} // namespace quillmark::platform::qt
