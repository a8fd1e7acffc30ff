// Text utilities, the string-table service, suites, images, progress and
// preferences of the stand-in host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "minihost/testing.h"

namespace {

// A table as an effect hands it over: "<prefix><number>=<default text>".
const StringTableEntry entries[] = {{"T0000=Hello, v%ld#{cr}", 0, 0, 0}, {"T0001=Not enough memory.", 0, 0, 0},
                                    {nullptr, 0, 0, 0}};
StringTableDescriptor descriptor{"T", 3, entries, 0};

template <typename Suite>
const Suite *acquire(minihost::TestHost &host, const char *name, int32_t version) {
    const void *table = nullptr;
    EXPECT_EQ(host.in.basicSuite->acquireSuite(name, version, &table), 0) << name;
    return static_cast<const Suite *>(table);
}

TEST(Text, FormatTakesTextsAndThirtyTwoBitIntegers) {
    minihost::TestHost host;
    char message[HOST_MESSAGE_LEN];
    host.in.utils->formatText(message, "%s, v%ld.%ld#{cr}x", "Fx", int32_t{1}, int32_t{2});
    EXPECT_STREQ(message, "Fx, v1.2#{cr}x");
    host.in.utils->formatText(message, "%ld|%ld|100%%", int32_t{-2147483647 - 1}, int32_t{2147483647});
    EXPECT_STREQ(message, "-2147483648|2147483647|100%");
    // The destination may be an argument, and the field holds 255 characters.
    host.in.utils->formatText(message, "%s!", message);
    EXPECT_STREQ(message, "-2147483648|2147483647|100%!");
    host.in.utils->formatText(message, "%s", std::string(400, 'x').c_str());
    EXPECT_EQ(std::strlen(message), 255u);
    EXPECT_TRUE(host.protocolErrors().empty());
    EXPECT_EQ(minihost::displayText("a#{cr}b#{cr}"), "a\nb\n");
}

TEST(StringService, OpensTheEffectsTableAndAnswersWithDefaultTexts) {
    minihost::TestHost host;
    void *ref = &descriptor;
    EXPECT_NE(host.in.openStringTable(&ref, 1), 0);  // only the protocol's flags open it
    ASSERT_EQ(host.in.openStringTable(&ref, STRING_TABLE_OPEN_FLAGS), 0);
    EXPECT_NE(ref, &descriptor);
    EXPECT_EQ(host.openStringTables(), 1);
    EXPECT_STREQ(host.in.lookupString(ref, 1, 0, 0), "Not enough memory.");
    EXPECT_STREQ(host.in.lookupString(ref, 0, 0, 0), "Hello, v%ld#{cr}");
    EXPECT_STREQ(host.in.lookupString(ref, 2, 0, 0), "");
    EXPECT_EQ(host.lookups(), (std::vector<int32_t>{1, 0, 2}));
    EXPECT_EQ(host.protocolErrors().size(), 2u);  // bad flags, message out of range
    host.in.closeStringTable(&ref);
    EXPECT_EQ(host.openStringTables(), 0);
}

TEST(Suites, BasicTableHandsOutTheFiveSuitesAndCountsThem) {
    minihost::TestHost host;
    const void *suite = nullptr;
    for (auto [name, version] : {std::pair{HOST_PARAM_UTILS_SUITE, 3}, std::pair{HOST_WORLD_TRANSFORM_SUITE, 1},
                                 std::pair{HOST_FILL_MATTE_SUITE, 2}, std::pair{HOST_WORLD_SUITE, 1},
                                 std::pair{HOST_PERSISTENT_DATA_SUITE, 3}}) {
        EXPECT_NE(acquire<void>(host, name, version), nullptr) << name;
        EXPECT_FALSE(host.suitesBalanced());
        EXPECT_EQ(host.in.basicSuite->releaseSuite(name, version), 0);
    }
    EXPECT_TRUE(host.suitesBalanced());
    EXPECT_NE(host.in.basicSuite->acquireSuite(HOST_WORLD_SUITE, 2, &suite), 0);  // wrong version
    EXPECT_EQ(suite, nullptr);
    EXPECT_EQ(host.suiteCounts()[HOST_WORLD_SUITE].failedAcquires, 1);
    EXPECT_NE(host.in.basicSuite->releaseSuite(HOST_FILL_MATTE_SUITE, 2), 0);  // not acquired
}

TEST(Images, PaddedRowsNewCopyFillAndDispose) {
    minihost::TestHost host;
    minihost::Image layer(5, 3, false, 12);
    EXPECT_EQ(layer.rowBytes(), 5 * 4 + 12);
    layer.fill(255, 10, 20, 30);
    layer.pixel8(4, 2) = {1, 2, 3, 4};
    EXPECT_TRUE(layer.paddingIntact());

    auto *worlds = acquire<HostWorldSuite>(host, HOST_WORLD_SUITE, 1);
    host.faults.newImageRowPadding = 8;
    HostWorld scratch{};
    ASSERT_EQ(worlds->newWorld(host.in.effectRef, 5, 3, HOST_NEW_WORLD_FLAG_CLEAR, &scratch), 0);
    EXPECT_EQ(scratch.rowBytes, 28);
    EXPECT_EQ(host.liveImages(), 1);

    auto *transform = acquire<HostWorldTransformSuite>(host, HOST_WORLD_TRANSFORM_SUITE, 1);
    ASSERT_EQ(transform->copy(host.in.effectRef, &layer.world(), &scratch, nullptr, nullptr), 0);
    HostPixel8 *origin = nullptr;
    ASSERT_EQ(host.in.utils->getPixelAddress8(&scratch, nullptr, &origin), 0);
    HostPixel8 corner = *reinterpret_cast<HostPixel8 *>(reinterpret_cast<uint8_t *>(origin) + 2 * 28 + 4 * 4);
    EXPECT_EQ(corner.alpha, 1);
    EXPECT_EQ(corner.blue, 4);

    auto *fill = acquire<HostFillMatteSuite>(host, HOST_FILL_MATTE_SUITE, 2);
    ASSERT_EQ(fill->fill(host.in.effectRef, nullptr, nullptr, &layer.world()), 0);
    EXPECT_EQ(layer.pixel8(4, 2).alpha, 0);
    EXPECT_TRUE(layer.paddingIntact());
    static_cast<uint8_t *>(layer.world().data)[5 * 4 + 11] ^= 1;  // a write past a row's pixels is seen
    EXPECT_FALSE(layer.paddingIntact());
    // A colour at 16 bits is widened, inside the rectangle only.
    minihost::Image deep(2, 2, true, 8);
    const HostPixel8 colour{255, 255, 128, 0};
    const HostRect one{1, 1, 2, 2};
    ASSERT_EQ(fill->fill(host.in.effectRef, &colour, &one, &deep.world()), 0);
    EXPECT_EQ(deep.pixel16(1, 1).alpha, 32768);
    EXPECT_EQ(deep.pixel16(1, 1).green, 16448);
    EXPECT_EQ(deep.pixel16(0, 0).alpha, 0);
    EXPECT_TRUE(deep.paddingIntact());

    host.faults.imageCopy.arm(1, 21);
    EXPECT_EQ(transform->copy(host.in.effectRef, &layer.world(), &scratch, nullptr, nullptr), 21);
    host.faults.imageFill.arm(1, 22);
    EXPECT_EQ(fill->fill(host.in.effectRef, nullptr, nullptr, &scratch), 22);
    HostPixel16 *deepOrigin = nullptr;
    EXPECT_NE(host.in.utils->getPixelAddress16(&scratch, nullptr, &deepOrigin), 0);  // an 8-bit image

    host.faults.disposeImage.arm(1, 23);
    EXPECT_EQ(host.in.utils->disposeWorld(host.in.effectRef, &scratch), 23);
    EXPECT_EQ(host.in.utils->disposeWorld(host.in.effectRef, &scratch), 0);
    EXPECT_EQ(host.liveImages(), 0);
    EXPECT_NE(host.in.utils->disposeWorld(host.in.effectRef, &layer.world()), 0);  // not the host's
}

TEST(Images, RecycledImagesComeBackClearedWithTheirPadding) {
    minihost::TestHost host;
    host.reuseImages = true;
    host.faults.newImageRowPadding = 4;
    auto *worlds = acquire<HostWorldSuite>(host, HOST_WORLD_SUITE, 1);
    HostWorld first{}, again{}, other{};
    ASSERT_EQ(worlds->newWorld(host.in.effectRef, 3, 2, HOST_NEW_WORLD_FLAG_DEEP, &first), 0);
    std::memset(first.data, 0x77, size_t(first.rowBytes) * 2 - 4);  // paint over everything but the last padding
    ASSERT_EQ(host.in.utils->disposeWorld(host.in.effectRef, &first), 0);
    // Another size or depth is a new image; the same size and depth the old
    // one, every pixel zero again and the padding as the host set it.
    ASSERT_EQ(worlds->newWorld(host.in.effectRef, 3, 2, 0, &other), 0);
    EXPECT_NE(other.data, first.data);
    ASSERT_EQ(worlds->newWorld(host.in.effectRef, 3, 2, HOST_NEW_WORLD_FLAG_DEEP, &again), 0);
    EXPECT_EQ(again.data, first.data);
    const auto *bytes = static_cast<const uint8_t *>(again.data);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t i = 0; i < 3 * 8; ++i) ASSERT_EQ(bytes[y * again.rowBytes + i], 0) << y << " " << i;
    EXPECT_EQ(bytes[3 * 8], 0x77);  // the padding is the host's and is not cleared
    EXPECT_EQ(host.in.utils->disposeWorld(host.in.effectRef, &again), 0);
    EXPECT_EQ(host.in.utils->disposeWorld(host.in.effectRef, &other), 0);
}

TEST(Progress, RecordsEveryCallAndStopsOnDemandEvenAfterTheHistoryIsDropped) {
    minihost::TestHost host;
    host.stopProgressAt(3, 55);
    EXPECT_EQ(host.in.progress(host.in.effectRef, 0, 0), 0);
    EXPECT_EQ(host.in.progress(host.in.effectRef, 1, -4), 0);
    host.forgetHistory();
    EXPECT_TRUE(host.progressCalls().empty());
    EXPECT_EQ(host.in.progress(host.in.effectRef, 2, 4), 55);
    EXPECT_EQ(host.in.progress(host.in.effectRef, 3, 4), 0);
    ASSERT_EQ(host.progressCalls().size(), 2u);
    EXPECT_EQ(host.progressCalls()[0].total, 4);
}

TEST(Preferences, ReadsAnswerFromTheStoreByTypeAndAreRecorded) {
    minihost::TestHost host;
    host.prefs.setInt("Fx", "Quality", 0);
    host.prefs.setReal("Fx", "Sprite", 0.5);
    auto *suite = acquire<HostPersistentDataSuite>(host, HOST_PERSISTENT_DATA_SUITE, 3);
    HostPrefStore store = nullptr;
    ASSERT_EQ(suite->getApplicationStore(&store), 0);
    int32_t value = 9;
    double real = 0;
    EXPECT_EQ(suite->getInt(store, "Fx", "Quality", 1, &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(suite->getInt(store, "Fx", "Toolbar", 1, &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(suite->getInt(store, "Other", "Quality", 3, &value), 0);  // other section
    EXPECT_EQ(value, 3);
    EXPECT_NE(suite->getInt(store, "Fx", "Sprite", 1, &value), 0);  // holds a real
    EXPECT_EQ(suite->getReal(store, "Fx", "Quality", 0.25, &real), 0);  // an integer read as a real
    EXPECT_EQ(real, 0.0);

    // One answer per key, the last one, in the order the keys were first read.
    host.prefs.setInt("Fx", "Toolbar", 7);
    EXPECT_EQ(suite->getInt(store, "Fx", "Toolbar", 1, &value), 0);
    const auto &answers = host.prefAnswers();
    ASSERT_EQ(answers.size(), 4u);
    EXPECT_EQ(answers[1].key, "Toolbar");
    EXPECT_TRUE(answers[1].stored && answers[1].integer);
    EXPECT_EQ(answers[1].value, 7);
    EXPECT_EQ(answers[1].defaultValue, 1);
    EXPECT_FALSE(answers[2].stored);  // the key of another section
    EXPECT_NE(answers[3].error, 0);
    EXPECT_FALSE(answers[0].integer);  // last read as a real
    EXPECT_EQ(host.prefReads().size(), 6u);

    // A store handed out with an error (a missing store, or a failing read,
    // is pinned by the effect's own tests).
    host.faults.prefStoreError = 5;
    EXPECT_EQ(suite->getApplicationStore(&store), 5);
    EXPECT_NE(store, nullptr);
    host.in.basicSuite->releaseSuite(HOST_PERSISTENT_DATA_SUITE, 3);
}

}  // namespace
