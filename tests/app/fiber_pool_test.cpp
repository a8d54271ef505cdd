// Runs as fibers on a few threads: a wait for one socket lets the others on.

#include "app/fiber_pool.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

struct SocketPair {
    int ends[2] = {-1, -1};
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, ends), 0); }
    ~SocketPair() {
        for (int end : ends)
            if (end >= 0) ::close(end);
    }
};

// Each fiber waits for a datagram on its own socket; they are sent in the
// reverse order of the fibers' start, one only after every fiber waits, so
// the run ends only if every wait let the other fibers on.
TEST(FiberPool, EveryWaitLetsTheOthersOn) {
    const struct {
        std::size_t fibers;
        std::size_t threads;
    } cases[] = {{1, 1}, {8, 1}, {64, 2}, {300, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fibers) + " fibers on " + std::to_string(c.threads) + " threads");
        std::vector<SocketPair> pairs(c.fibers);
        std::atomic<std::size_t> next{0};
        std::atomic<std::size_t> waiting{0};
        std::atomic<std::size_t> woken{0};
        std::thread sender([&] {
            while (waiting < c.fibers) std::this_thread::yield();
            for (std::size_t i = c.fibers; i-- > 0;) ASSERT_EQ(::send(pairs[i].ends[1], "x", 1, 0), 1);
        });
        const bool ran = RunFibers(c.fibers, c.threads, [&] {
            SocketPair& mine = pairs[next++];
            ++waiting;
            if (FiberReadiness().WaitReadable(mine.ends[0], 10000) > 0) ++woken;
            FiberReadiness().Forget(mine.ends[0]);
        });
        sender.join();
        EXPECT_TRUE(ran);
        EXPECT_EQ(woken, c.fibers);
    }
}

// A wait whose time runs out says so, and the others still get their turn.
TEST(FiberPool, AWaitThatRunsOutReturnsZero) {
    SocketPair silent;
    std::mutex lock;
    std::vector<int> results;
    ASSERT_TRUE(RunFibers(3, 1, [&] {
        const int waited = FiberReadiness().WaitReadable(silent.ends[0], 30);
        const std::lock_guard<std::mutex> guard(lock);
        results.push_back(waited);
    }));
    EXPECT_EQ(results, (std::vector<int>{0, 0, 0}));
}

// The first fiber ends with its socket still registered; the second waits
// past that end, then for the same socket, whose datagram must wake it and
// not the fiber that ended.
TEST(FiberPool, ASocketLeftRegisteredWakesItsNextWaiter) {
    SocketPair shared;
    SocketPair silent;
    std::atomic<int> next{0};
    std::atomic<bool> secondWaits{false};
    int woken = -2;
    std::thread sender([&] {
        while (!secondWaits) std::this_thread::yield();
        ASSERT_EQ(::send(shared.ends[1], "x", 1, 0), 1);
    });
    const bool ran = RunFibers(2, 1, [&] {
        if (next++ == 0) {
            EXPECT_EQ(FiberReadiness().WaitReadable(shared.ends[0], 20), 0);
            return;
        }
        EXPECT_EQ(FiberReadiness().WaitReadable(silent.ends[0], 100), 0);
        secondWaits = true;
        woken = FiberReadiness().WaitReadable(shared.ends[0], 2000);
    });
    secondWaits = true;  // the sender ends even when no fiber ran
    sender.join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(woken, 1);
}

// A fiber started from a fiber runs while its starter waits, on the same
// thread: only the new one can send what the waiting one waits for. Each
// new fiber starts the next, so the chain reaches one thread's end only if
// every start worked; outside a fiber nothing can be started.
TEST(FiberPool, AFiberStartedBesideRunsWhileItsStarterWaits) {
    constexpr int CHAIN = 50;
    std::vector<SocketPair> pairs(CHAIN);
    std::atomic<int> next{0};
    std::atomic<int> woken{0};
    const bool ran = RunFibers(1, 1, [&] {
        const int mine = next++;
        if (mine > 0) {
            ASSERT_EQ(::send(pairs[mine - 1].ends[1], "x", 1, 0), 1);
        }
        if (mine + 1 == CHAIN) return;
        ASSERT_TRUE(StartFiberBeside());
        if (FiberReadiness().WaitReadable(pairs[mine].ends[0], 5000) > 0) ++woken;
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(next, CHAIN);
    EXPECT_EQ(woken, CHAIN - 1);
    EXPECT_FALSE(StartFiberBeside());
}

}  // namespace
}  // namespace quorvane
