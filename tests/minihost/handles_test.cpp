// The stand-in host's memory: exact sizes, counted locks, accounting,
// failures on demand and the strict relocating mode.
#include <gtest/gtest.h>

#include <cstring>

#include "minihost/testing.h"

namespace {

class Handles : public ::testing::Test {
protected:
    void TearDown() override {
        minihost::setStrictHandles(false);
        EXPECT_EQ(minihost::handleStats().live, before.live);
    }
    minihost::HandleStats before = minihost::handleStats();
    minihost::TestHost host;
};

TEST_F(Handles, ExactSizesCountedLocksAndAccounting) {
    HostHandle a = host.in.utils->newHandle(13), b = host.in.utils->newHandle(0);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(host.in.utils->getHandleSize(b), 0u);
    EXPECT_EQ(minihost::handleStats().live, before.live + 2);
    EXPECT_EQ(minihost::handleStats().liveBytes, before.liveBytes + 13);

    void *p1 = host.in.utils->lockHandle(a);
    EXPECT_EQ(host.in.utils->lockHandle(a), p1);
    EXPECT_EQ(minihost::handleInfo(a).lockCount, 2);
    host.in.utils->unlockHandle(a);
    EXPECT_EQ(minihost::handleStats().locked, before.locked + 1);
    host.in.utils->unlockHandle(a);
    EXPECT_EQ(minihost::handleStats().locked, before.locked);

    // New memory is zero outside strict mode; resizing keeps the content.
    EXPECT_EQ(std::memcmp(*a, std::vector<uint8_t>(13, 0).data(), 13), 0);
    std::memcpy(*a, "hello, world", 13);
    ASSERT_EQ(host.in.utils->resizeHandle(100000, &a), 0);
    EXPECT_EQ(host.in.utils->getHandleSize(a), 100000u);
    EXPECT_STREQ(static_cast<char *>(*a), "hello, world");
    ASSERT_EQ(host.in.utils->resizeHandle(6, &a), 0);
    EXPECT_EQ(std::memcmp(*a, "hello,", 6), 0);
    EXPECT_EQ(minihost::handleStats().liveBytes, before.liveBytes + 6);
    host.in.utils->disposeHandle(a);
    host.in.utils->disposeHandle(b);
    EXPECT_EQ(minihost::handleStats().misuse, before.misuse);

    // Misuse is counted and reported, never fatal.
    HostHandle c = minihost::newHandle(4);
    minihost::unlockHandle(c);  // not locked
    minihost::disposeHandle(c);
    minihost::disposeHandle(c);  // twice
    EXPECT_EQ(minihost::handleStats().misuse, before.misuse + 2);
    EXPECT_EQ(host.protocolErrors().size(), 2u);
}

// (Failing the n-th new handle, once or from then on, is pinned by the
// effect's own tests in tests/host, which rely on it throughout.)
TEST_F(Handles, FailedAndAbsurdRequestsLeaveTheHandleAsItWas) {
    HostHandle a = minihost::newHandle(8);
    host.faults.resizeHandle.arm(1, 33);
    HostHandle kept = a;
    std::memcpy(*a, "abcdefg", 8);
    EXPECT_EQ(minihost::resizeHandle(1000, &a), 33);
    EXPECT_EQ(a, kept);
    EXPECT_EQ(minihost::getHandleSize(a), 8u);
    EXPECT_STREQ(static_cast<char *>(*a), "abcdefg");
    EXPECT_EQ(minihost::resizeHandle(1000, &a), 0);

    EXPECT_EQ(minihost::newHandle(uint64_t(1) << 62), nullptr);
    EXPECT_EQ(minihost::resizeHandle(minihost::handleSizeLimit() + 1, &a), HOST_ERR_OUT_OF_MEMORY);
    EXPECT_EQ(minihost::getHandleSize(a), 1000u);
    minihost::disposeHandle(a);
}

TEST_F(Handles, StrictModeMovesUnlockedBlocksAndPoisonsTheOldPlace) {
    minihost::setStrictHandles(true);
    HostHandle h = minihost::newHandle(16);
    EXPECT_EQ(static_cast<uint8_t *>(*h)[0], 0xBE);  // new memory is not zero: code must clear what it needs

    auto *first = static_cast<uint8_t *>(minihost::lockHandle(h));
    std::memset(first, 7, 16);
    EXPECT_EQ(minihost::lockHandle(h), first);  // still locked: stays put
    minihost::unlockHandle(h);
    // Shrinking a locked block keeps it in place; the cut-off tail is dead.
    ASSERT_EQ(minihost::resizeHandle(12, &h), 0);
    EXPECT_EQ(*h, first);
    EXPECT_EQ(first[12], 0xDD);
    minihost::unlockHandle(h);

    auto *moved = static_cast<uint8_t *>(minihost::lockHandle(h));
    EXPECT_NE(moved, first);
    EXPECT_EQ(moved[11], 7);
    EXPECT_EQ(first[0], 0xDD);  // the stale pointer reads poison
    minihost::unlockHandle(h);

    void *beforeResize = *h;
    ASSERT_EQ(minihost::resizeHandle(12, &h), 0);
    EXPECT_NE(*h, beforeResize);
    EXPECT_EQ(static_cast<uint8_t *>(*h)[0], 7);
    EXPECT_GE(minihost::handleStats().moves, before.moves + 2);

    void *last = *h;
    minihost::disposeHandle(h);
    EXPECT_EQ(static_cast<uint8_t *>(last)[0], 0xDD);
}

}  // namespace

// Appending byte by byte moves a block a logarithmic number of times and
// copies a bounded multiple of its final size; strict mode keeps moving on
// every growth. The budget refuses what would take the blocks past it, room
// to spare is the first thing given up, and the size stays exact.
TEST_F(Handles, GrowthRoomAndBudget) {
    struct Row {
        bool strict;
        uint64_t budget, finalSize;  // budget: beyond what is held already
        uint64_t maxMoves, maxCopied;
        bool fits;
    } rows[] = {
        {false, UINT64_MAX, 100000, 40, 3 * 100000, true},
        {true, UINT64_MAX, 2000, 2000, 2000 * 2000, true},
        {false, 60000, 60000, 40, 3 * 60000, true},  // the last step takes exactly what is left
        {false, 50000, 60000, 40, 3 * 60000, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.finalSize);
        minihost::setStrictHandles(row.strict);
        const auto start = minihost::handleStore().counters();
        minihost::setHandleBudget(row.budget == UINT64_MAX ? row.budget : start.reservedBytes + row.budget);
        HostHandle h = minihost::newHandle(1);
        ASSERT_TRUE(h);
        uint64_t reached = 1;
        for (; reached < row.finalSize; ++reached) {
            if (minihost::resizeHandle(reached + 1, &h) != 0) break;
            static_cast<uint8_t *>(*h)[reached] = uint8_t(reached);
        }
        const auto end = minihost::handleStore().counters();
        EXPECT_EQ(reached == row.finalSize, row.fits);
        EXPECT_EQ(minihost::getHandleSize(h), reached);
        EXPECT_EQ(static_cast<uint8_t *>(*h)[reached - 1], uint8_t(reached - 1));
        EXPECT_LE(end.moves - start.moves, row.maxMoves);
        EXPECT_LE(end.bytesCopied - start.bytesCopied, row.maxCopied);
        EXPECT_LE(end.peakReservedBytes,
                  std::max(start.peakReservedBytes, start.reservedBytes + std::min(row.budget, 2 * row.finalSize)));
        EXPECT_EQ(end.refusals - start.refusals, row.fits ? 0u : 1u);
        // The budget holds for new handles too; freed memory is available again.
        if (!row.fits) {
            EXPECT_EQ(minihost::newHandle(row.budget), nullptr);
        }
        minihost::disposeHandle(h);
        EXPECT_EQ(minihost::handleStore().counters().reservedBytes, start.reservedBytes);
    }
    minihost::setHandleBudget(UINT64_MAX);
}
