// Tells the service manager that the monitor is ready, still alive, and stopping. It
// speaks only when the manager asked for it (NOTIFY_SOCKET set); otherwise every call
// does nothing. alive() is cheap enough for every step: it pings at half the watchdog
// interval, so a monitor whose steps stop coming is restarted.
#pragma once

#include <chrono>

namespace bm7::station {

class ServiceNotifier {
public:
    using Clock = std::chrono::steady_clock;

    ServiceNotifier();

    bool enabled() const { return enabled_; }
    void ready();
    void alive(Clock::time_point now = Clock::now());
    void stopping();

private:
    bool enabled_ = false;
    bool watchdog_ = false;
    Clock::duration pingInterval_{};
    Clock::time_point lastPing_{};
};

}  // namespace bm7::station
