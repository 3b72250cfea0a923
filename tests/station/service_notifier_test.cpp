#include "station/service_notifier.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/scratch_directory.h"

namespace bm7::station {
namespace {

// A datagram socket standing in for the service manager's.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    ~NotifySocket() { ::close(fd_); }

    std::vector<std::string> messages() {
        std::vector<std::string> received;
        char buffer[512];
        ssize_t got;
        while ((got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            received.emplace_back(buffer, static_cast<std::size_t>(got));
        return received;
    }

private:
    int fd_ = -1;
};

class ServiceNotifierTest : public ::testing::Test {
protected:
    void TearDown() override {
        unsetenv("NOTIFY_SOCKET");
        unsetenv("WATCHDOG_USEC");
        unsetenv("WATCHDOG_PID");
    }
};

TEST_F(ServiceNotifierTest, ReadinessAndWatchdogPingsReachTheManager) {
    testing::ScratchDirectory scratch;
    NotifySocket manager(scratch / "notify");
    setenv("NOTIFY_SOCKET", (scratch / "notify").c_str(), 1);
    setenv("WATCHDOG_USEC", "2000000", 1);
    setenv("WATCHDOG_PID", std::to_string(getpid()).c_str(), 1);
    ServiceNotifier notifier;
    ASSERT_TRUE(notifier.enabled());
    notifier.ready();
    const auto start = ServiceNotifier::Clock::now();
    notifier.alive(start);
    notifier.alive(start + std::chrono::milliseconds(100));  // too soon for another ping
    notifier.alive(start + std::chrono::seconds(1));
    notifier.stopping();
    EXPECT_EQ(manager.messages(),
              (std::vector<std::string>{"READY=1", "WATCHDOG=1", "WATCHDOG=1", "STOPPING=1"}));
}

TEST_F(ServiceNotifierTest, WithoutAManagerNothingIsSent) {
    ServiceNotifier notifier;
    EXPECT_FALSE(notifier.enabled());
    notifier.ready();
    notifier.alive();
    notifier.stopping();
}

}  // namespace
}  // namespace bm7::station
