#include "station/service_notifier.h"

#include <systemd/sd-daemon.h>

#include <cstdint>
#include <cstdlib>

namespace bm7::station {

ServiceNotifier::ServiceNotifier() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    enabled_ = socket != nullptr && *socket != '\0';
    std::uint64_t watchdogMicroseconds = 0;
    if (enabled_ && sd_watchdog_enabled(0, &watchdogMicroseconds) > 0) {
        watchdog_ = true;
        pingInterval_ = std::chrono::microseconds(watchdogMicroseconds / 2);
    }
}

void ServiceNotifier::ready() {
    if (enabled_) sd_notify(0, "READY=1");
}

void ServiceNotifier::alive(Clock::time_point now) {
    if (!watchdog_ || now - lastPing_ < pingInterval_) return;
    lastPing_ = now;
    sd_notify(0, "WATCHDOG=1");
}

void ServiceNotifier::stopping() {
    if (enabled_) sd_notify(0, "STOPPING=1");
}

}  // namespace bm7::station
