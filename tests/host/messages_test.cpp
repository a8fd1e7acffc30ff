// The string table, message reports and suite access, in process.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "catalog/messages.h"
#include "host/entry.h"
#include "host/globals.h"
#include "host/message_lookup.h"
#include "host/suites.h"
#include "minihost/testing.h"
#include "pennaro/errors.h"

namespace {

class InProcess : public ::testing::Test {
protected:
    void SetUp() override {
        liveBefore = minihost::handleStats().live;
        ASSERT_EQ(host.send(&pennaro::filterMain, HOST_CMD_GLOBAL_SETUP), 0) << host.out.message;
        host.out.outFlags = 0;
        host.out.message[0] = '\0';
    }
    void TearDown() override {
        host.in.basicSuite = nullptr;  // set-down must not need suites
        EXPECT_EQ(host.send(&pennaro::filterMain, HOST_CMD_GLOBAL_SETDOWN), 0);
        EXPECT_EQ(minihost::handleStats().live, liveBefore);
    }
    uint64_t liveBefore = 0;
    minihost::TestHost host;
};

TEST(StringTable, DescriptorHoldsEightyNumberedKeysAndTheTerminator) {
    const StringTableDescriptor *d = pennaro::stringTableDescriptor();
    EXPECT_STREQ(d->dictionary, "KZMO_Pennaro");
    EXPECT_EQ(d->entryCount, 81);
    EXPECT_EQ(d->reserved, 0);
    for (int i = 0; i < 80; ++i) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "$$$/OV/Pennaro/LStr/%04d=", i);
        ASSERT_NE(d->entries[i].key, nullptr) << i;
        EXPECT_EQ(std::string(d->entries[i].key).rfind(prefix, 0), 0u) << d->entries[i].key;
        EXPECT_EQ(d->entries[i].reserved1, 0);
        EXPECT_EQ(d->entries[i].reserved2, 0);
        EXPECT_EQ(d->entries[i].reserved3, 0);
    }
    EXPECT_EQ(d->entries[80].key, nullptr);
    EXPECT_EQ(d->entries[80].reserved1, -1);
    EXPECT_EQ(d->entries[80].reserved2, -1);
    EXPECT_EQ(d->entries[80].reserved3, 0);
}

// The host looks every text up in the table the effect gave it; only the
// about text is a format.
TEST_F(InProcess, LookupsGiveTheTablesTexts) {
    for (int32_t n = 0; n < pennaro::MESSAGE_COUNT; ++n) {
        const std::string text = pennaro::lookupMessage(&host.in, n);
        EXPECT_EQ(text, pennaro::messageText(n)) << n;
        EXPECT_TRUE(n == 0 || text.find('%') == std::string::npos) << n;
    }
    EXPECT_TRUE(host.protocolErrors().empty());
}

TEST_F(InProcess, ReportedMessagesNameTheEffectAfterTheText) {
    pennaro::reportMessage(&host.in, &host.out, 3, false);
    EXPECT_STREQ(host.out.message, "There was not enough memory to save. Zanthe will be lost. : Pennaro");
    EXPECT_EQ(host.out.outFlags & 0x100u, 0u);
    pennaro::reportMessage(&host.in, &host.out, 1, true);
    EXPECT_STREQ(host.out.message, "Not enough memory. : Pennaro");
    EXPECT_NE(host.out.outFlags & 0x100u, 0u);
}

TEST_F(InProcess, SuiteAcquiredAndReleased) {
    const void *suite = nullptr;
    ASSERT_EQ(pennaro::AcquireSuite(&host.in, &host.out, HOST_WORLD_SUITE, HOST_WORLD_SUITE_VERSION, "x", &suite), 0);
    EXPECT_NE(suite, nullptr);
    EXPECT_EQ(pennaro::ReleaseSuite(&host.in, &host.out, HOST_WORLD_SUITE, HOST_WORLD_SUITE_VERSION, "y"), 0);
    EXPECT_TRUE(host.suitesBalanced());
    EXPECT_EQ(host.out.outFlags, 0u);
    EXPECT_STREQ(host.out.message, "");
}

TEST_F(InProcess, SuiteFailuresWriteTheTextAloneAndGive516) {
    const void *suite = &host;
    host.faults.failAcquire[HOST_FILL_MATTE_SUITE] = 0;  // "success" but no table
    EXPECT_EQ(pennaro::AcquireSuite(&host.in, &host.out, HOST_FILL_MATTE_SUITE, 2,
                                    pennaro::lookupMessage(&host.in, 38), &suite),
              HOST_ERR_SUITE);
    EXPECT_EQ(suite, nullptr);
    EXPECT_STREQ(host.out.message, "Could not acquire Fill Matte Suite");
    EXPECT_NE(host.out.outFlags & 0x100u, 0u);

    host.out.outFlags = 0;
    const HostBasicSuite *table = host.in.basicSuite;
    host.in.basicSuite = nullptr;
    EXPECT_EQ(pennaro::AcquireSuite(&host.in, &host.out, HOST_WORLD_SUITE, 1, nullptr, &suite), HOST_ERR_SUITE);
    EXPECT_STREQ(host.out.message, "Not able to acquire OVFX Suite.");
    EXPECT_NE(host.out.outFlags & 0x100u, 0u);
    EXPECT_EQ(pennaro::ReleaseSuite(&host.in, &host.out, HOST_WORLD_SUITE, 1, nullptr), HOST_ERR_SUITE);
    EXPECT_STREQ(host.out.message, "Not able to release OVFX Suite.");
    EXPECT_EQ(pennaro::ReleaseSuite(&host.in, &host.out, HOST_WORLD_SUITE, 1, "Failed to release suite."),
              HOST_ERR_SUITE);
    EXPECT_STREQ(host.out.message, "Failed to release suite.");
    host.in.basicSuite = table;
}

TEST_F(InProcess, ReleaseResultOfTheHostIsNotTheEffectsConcern) {
    const void *suite = nullptr;
    host.faults.failRelease[HOST_WORLD_SUITE] = 99;
    ASSERT_EQ(pennaro::AcquireSuite(&host.in, &host.out, HOST_WORLD_SUITE, 1, nullptr, &suite), 0);
    EXPECT_EQ(pennaro::ReleaseSuite(&host.in, &host.out, HOST_WORLD_SUITE, 1, nullptr), 0);
    EXPECT_EQ(host.out.outFlags, 0u);
}

TEST(NoGlobals, CommandsWithoutGlobalSetUpReadNothingThroughTheMissingRecord) {
    minihost::TestHost host;
    EXPECT_EQ(host.send(&pennaro::filterMain, HOST_CMD_ABOUT), 0);
    EXPECT_STREQ(pennaro::lookupMessage(&host.in, 1), "");
    EXPECT_EQ(host.send(&pennaro::filterMain, HOST_CMD_GLOBAL_SETDOWN), 0);
}

}  // namespace
