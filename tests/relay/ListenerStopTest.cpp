// Stopping a listener while clients keep arriving: each stop must end its
// listener without touching it afterwards (run under the sanitizers, a use
// after free or a write to a reused descriptor shows here).
#include "FakeSmtpServer.h"

#include "config/ProxyConfiguration.h"
#include "relay/SMTPProxy.h"
#include "relay/SessionRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace pelorus::test;

TEST(ListenerStop, StartsAndStopsWhileClientsArrive)
{
    TempDir home;
    ScopedEnv config("XDG_CONFIG_HOME", home / "config");
    ScopedEnv temp("TEMP", home / "tmp");
    FakeSmtpServer server;
    const std::uint16_t port = freePort();
    MAIL::ProxyConfiguration settings;
    ASSERT_TRUE(settings.setServer("127.0.0.1"));
    ASSERT_TRUE(settings.setPort(server.port()));
    ASSERT_TRUE(settings.setProxyPort(port));

    std::atomic<bool> running{true};
    std::atomic<int> connected{0};
    std::thread clients([&] {
        while (running.load())
            if (connectTo(port) != nullptr)  // connects and closes at once
                ++connected;
    });
    for (int round = 0; round < 60; ++round) {
        const int before = connected.load();
        auto* listener = new SMTPProxy();
        MAIL::ThreadHandle handle = listener->getHandle();
        listener->start();
        // Every other round stops at once; the others once a client got in.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (round % 2 == 0 && connected.load() == before && std::chrono::steady_clock::now() < limit)
            std::this_thread::yield();
        listener->stop();
        ASSERT_EQ(handle.wait(20000), MAIL::ThreadHandle::WaitObject0) << "round " << round;
    }
    running.store(false);
    clients.join();
    EXPECT_TRUE(MAIL::SessionRegistry::instance().waitIdle(std::chrono::seconds(30)));
}
