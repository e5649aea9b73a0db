#include "platform/qt/qt_repeating_timer.hpp"

#include <chrono>

namespace quillmark::platform::qt {

QtRepeatingTimer::QtRepeatingTimer(std::function<void(RepeatingTimer& timer)> tick)
    : tick_(std::move(tick))
{
}

std::shared_ptr<QtRepeatingTimer> QtRepeatingTimer::start(Desktop::Clock::duration interval,
    std::function<void(RepeatingTimer& timer)> tick)
{
    std::shared_ptr<QtRepeatingTimer> timer(new QtRepeatingTimer(std::move(tick)));
    timer->timer_.setTimerType(Qt::PreciseTimer);
    timer->timer_.setInterval(std::chrono::duration_cast<std::chrono::milliseconds>(interval));
    QObject::connect(&timer->timer_, &QTimer::timeout, [weak = std::weak_ptr<QtRepeatingTimer>(timer)] {
        // The tick may drop the controller's handle; this one keeps the timer
        // alive until the tick has returned.
        auto self = weak.lock();
        if (self && self->valid_)
            self->tick_(*self);
    });
    timer->timer_.start();
    return timer;
}

void QtRepeatingTimer::invalidate()
{
    valid_ = false;
    timer_.stop();
}

} // namespace quillmark::platform::qt
