// The effect as the host sees it through the shared library: exports,
// registration, about, global set-up and set-down, and the common frame.
#include <array>
#include <cstdio>
#include <cstring>
#include <set>

#include "host/globals.h"
#include "pennaro/errors.h"
#include "rig.h"

namespace {

using host_test::LoadedEffect;

TEST(Library, ExportsExactlyTheTwoEntryPoints) {
#ifdef _WIN32
    GTEST_SKIP() << "ELF symbols are checked on Linux; the DLL's export table is checked with objdump -p";
#endif
    std::string command = std::string("nm -D --defined-only ") + PENNARO_PLUGIN_PATH + " 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    std::array<char, 512> line{};
    while (std::fgets(line.data(), line.size(), pipe)) {
        std::string text(line.data());
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        auto space = text.rfind(' ');
        if (space == std::string::npos) continue;
        std::string type = text.substr(space - 1, 1);
        // Version-script nodes show up as absolute symbols; they are not code.
        if (type == "A") continue;
        symbols.insert(text.substr(space + 1));
    }
    int status = pclose(pipe);
    if (status != 0 && symbols.empty()) GTEST_SKIP() << "nm is not available";
    EXPECT_EQ(symbols, (std::set<std::string>{"FilterMain", "PluginDataEntryFunction"}));
}

// The registration record's texts are pinned by the golden description; the
// host's pointer and answer pass through.
TEST_F(LoadedEffect, RegistrationPassesTheHostsPointerAndAnswer) {
    int hostThing = 0;
    minihost::Plugin again(PENNARO_PLUGIN_PATH);
    ASSERT_EQ(again.registerEffect(0, &hostThing), 0);
    ASSERT_EQ(again.registrations().size(), 1u);
    EXPECT_EQ(again.registrations()[0].hostPtr, &hostThing);
    minihost::Plugin refused(PENNARO_PLUGIN_PATH);
    EXPECT_EQ(refused.registerEffect(-1234), -1234);
    EXPECT_EQ(refused.registrations().size(), 1u);
    EXPECT_EQ(refused.dataEntry()(nullptr, nullptr, nullptr, nullptr), HOST_ERR_INTERNAL);
}

TEST_F(LoadedEffect, GlobalSetUpAnnouncesTheEffectAndSetDownLeavesNothing) {
    host.out.outFlags = 0;
    ASSERT_EQ(host.call(plugin.entry(), HOST_CMD_GLOBAL_SETUP), 0) << host.out.message;
    EXPECT_EQ(host.out.outFlags, 0x2208037u);
    EXPECT_EQ(host.out.outFlags2, 1u);
    EXPECT_EQ(host.out.version, 0x91600u);
    EXPECT_STREQ(host.out.message, "");
    ASSERT_NE(host.out.globalData, nullptr);
    EXPECT_EQ(host.in.globalData, host.out.globalData);
    EXPECT_EQ(minihost::handleInfo(host.out.globalData).size, sizeof(pennaro::PaintGlobals));
    EXPECT_EQ(minihost::handleStats().live, liveBefore + 1);
    EXPECT_EQ(host.openStringTables(), 1);
    EXPECT_NE(globals().stringTable, nullptr);
    EXPECT_EQ(globals().highResStylus, 0);

    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
    EXPECT_EQ(host.out.globalData, nullptr);
    EXPECT_EQ(host.in.globalData, nullptr);
    EXPECT_EQ(host.openStringTables(), 0);
    EXPECT_EQ(minihost::handleStats().live, liveBefore);
    EXPECT_TRUE(host.suitesBalanced());
    EXPECT_TRUE(host.protocolErrors().empty()) << host.protocolErrors().front();
}

TEST_F(LoadedEffect, GlobalSetUpReusesAGlobalHandleWithoutClearingIt) {
    HostHandle existing = minihost::newHandle(sizeof(pennaro::PaintGlobals));
    auto *g = static_cast<pennaro::PaintGlobals *>(*existing);
    g->highResStylus = 0x77;  // nothing writes this byte but the zeroing of a new record
    g->onion.onionFramesBackward = 123;
    host.out.globalData = existing;
    setInt("Onion skin - Frames backward", 9);
    ASSERT_EQ(host.call(plugin.entry(), HOST_CMD_GLOBAL_SETUP), 0);
    EXPECT_EQ(host.out.globalData, existing);
    EXPECT_EQ(host.in.globalData, existing);
    EXPECT_EQ(g->highResStylus, 0x77);
    EXPECT_EQ(g->onion.onionFramesBackward, 9);
    EXPECT_NE(g->stringTable, nullptr);
    EXPECT_EQ(host.openStringTables(), 1);
    EXPECT_EQ(minihost::handleStats().live, liveBefore + 1);
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
    EXPECT_EQ(minihost::handleStats().live, liveBefore);
}

TEST_F(LoadedEffect, StringTableOpenFailureEndsSetUpWithTheHostsCode) {
    host.faults.stringTableOpenError = 42;
    EXPECT_EQ(send(HOST_CMD_GLOBAL_SETUP), 42);
    EXPECT_STREQ(host.out.message, "Pennaro could not be initialized.");
    EXPECT_NE(host.out.outFlags & 0x100u, 0u);
    EXPECT_EQ(host.shownMessages(), std::vector<std::string>{"Pennaro could not be initialized."});
    EXPECT_EQ(host.out.globalData, nullptr);
    EXPECT_EQ(host.openStringTables(), 0);
    EXPECT_EQ(minihost::handleStats().live, liveBefore);
}

TEST_F(LoadedEffect, NoMemoryForGlobalsClosesTheTableAndGivesFour) {
    host.faults.newHandle.arm(1);
    EXPECT_EQ(send(HOST_CMD_GLOBAL_SETUP), 4);
    EXPECT_STREQ(host.out.message, "Pennaro could not be initialized.");
    EXPECT_NE(host.out.outFlags & 0x100u, 0u);
    EXPECT_EQ(host.out.globalData, nullptr);
    EXPECT_EQ(host.openStringTables(), 0);
    EXPECT_EQ(minihost::handleStats().live, liveBefore);
}

TEST_F(LoadedEffect, UnknownAndNegativeCommandsOnlyCycleTheSequenceLock) {
    setUpGlobals();
    minihost::setStrictHandles(true);
    // The sequence data is locked between commands.
    HostHandle sequence = minihost::newHandle(64);
    minihost::lockHandle(sequence);
    host.in.sequenceData = sequence;
    for (int32_t command : {2, 9, 10, 12, 15, 16, 17, 19, 20, 1000, -1, -2147483647 - 1}) {
        std::memset(&host.out, 0xA7, sizeof host.out);
        host.out.sequenceData = nullptr;
        HostOutData before;
        std::memcpy(&before, &host.out, sizeof before);
        void *address = *sequence;
        EXPECT_EQ(host.call(plugin.entry(), command), 0) << command;
        // Strict mode moves a block on the lock after an unlock: a new
        // address proves the unlock on entry and the lock on exit.
        EXPECT_NE(*sequence, address) << command;
        EXPECT_EQ(minihost::handleInfo(sequence).lockCount, 1) << command;
        EXPECT_EQ(host.out.sequenceData, sequence);
        HostOutData expected;
        std::memcpy(&expected, &before, sizeof expected);
        expected.sequenceData = sequence;
        EXPECT_EQ(std::memcmp(&host.out, &expected, sizeof expected), 0) << command;
    }
    minihost::unlockHandle(sequence);
    minihost::disposeHandle(sequence);
    host.in.sequenceData = nullptr;
    host.out.globalData = host.in.globalData;
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
    EXPECT_EQ(minihost::handleStats().live, liveBefore);
}

TEST_F(LoadedEffect, EveryCommandReportsTheSequenceHandleEvenWhenThereIsNone) {
    setUpGlobals();
    host.out.sequenceData = reinterpret_cast<HostHandle>(&host);
    EXPECT_EQ(host.call(plugin.entry(), 17), 0);
    EXPECT_EQ(host.out.sequenceData, nullptr);
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
}

TEST(Session, EveryCommandLeavesTheDataLockedOnceAndNothingBehind) {
    host_test::Rig rig(8, 6, false, false);
    minihost::setStrictHandles(true);
    for (int32_t command : {HOST_CMD_GLOBAL_SETUP, HOST_CMD_PARAMS_SETUP, HOST_CMD_ABOUT, HOST_CMD_SEQUENCE_SETUP,
                            HOST_CMD_UPDATE_PARAMS_UI, HOST_CMD_RENDER, HOST_CMD_QUERY_DYNAMIC_FLAGS,
                            HOST_CMD_USER_CHANGED_PARAM, HOST_CMD_RENDER}) {
        rig.host.setFrame(command);
        EXPECT_EQ(rig.send(command), 0) << command << ": " << rig.message();
        // Between commands the instance's data is locked exactly once.
        if (rig.host.in.sequenceData) {
            EXPECT_EQ(minihost::handleInfo(rig.host.in.sequenceData).lockCount, 1);
        }
        EXPECT_EQ(rig.host.out.sequenceData, rig.host.in.sequenceData);
        EXPECT_EQ(rig.host.outstandingCheckouts(), 0) << command;
        EXPECT_EQ(rig.host.liveImages(), 0) << command;
    }
    EXPECT_TRUE(rig.output.paddingIntact());
}

}  // namespace
