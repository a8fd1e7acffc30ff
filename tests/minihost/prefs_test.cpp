// The preference store and its JSON files: clear errors, nothing changed
// on a bad file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "minihost/minihost.h"

namespace {

std::string errorOf(minihost::PrefStore &store, const std::string &json) {
    try {
        store.loadJsonText(json, "prefs.json");
    } catch (const std::runtime_error &e) {
        return e.what();
    }
    return "";
}

TEST(PrefStore, LoadsKnownKeysWithTheirTypes) {
    minihost::PrefStore store;
    store.loadJsonText(R"({"Onion skin - Opacity": 0.35, "Onion skin - Frames backward": 4,
                           "Onion skin - Forward color - Red": 1})");
    auto entries = store.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries["Onion skin - Opacity"].value, 0.35);
    EXPECT_FALSE(entries["Onion skin - Opacity"].isInteger);
    EXPECT_EQ(entries["Onion skin - Frames backward"].value, 4);
    EXPECT_TRUE(entries["Onion skin - Frames backward"].isInteger);
    EXPECT_FALSE(entries["Onion skin - Forward color - Red"].isInteger);
}

TEST(PrefStore, BadFilesAreClearErrorsAndChangeNothing) {
    minihost::PrefStore store;
    store.setInt("Draw brush sprite", 0);
    std::string e = errorOf(store, R"({"Onion Skin Opacity": 0.35})");
    EXPECT_NE(e.find("prefs.json"), std::string::npos) << e;
    EXPECT_NE(e.find("unknown preference \"Onion Skin Opacity\""), std::string::npos) << e;
    EXPECT_NE(e.find("Onion skin - Opacity"), std::string::npos) << e;  // lists the known keys

    e = errorOf(store, R"({"Preview quality": 0, "Onion skin - Frames forward": 1.5})");
    EXPECT_NE(e.find("\"Onion skin - Frames forward\" must be an integer"), std::string::npos) << e;
    e = errorOf(store, R"({"Onion skin - Opacity": "high"})");
    EXPECT_NE(e.find("must be a number"), std::string::npos) << e;
    e = errorOf(store, R"({"Draw brush sprite": 4294967296})");
    EXPECT_NE(e.find("32 bits"), std::string::npos) << e;
    EXPECT_NE(errorOf(store, "[1, 2]"), "");
    EXPECT_NE(errorOf(store, "{"), "");
    // The good key of the rejected file did not land.
    EXPECT_EQ(store.entries().size(), 1u);
    EXPECT_EQ(store.entries()["Draw brush sprite"].value, 0);

    EXPECT_THROW(store.loadJsonFile("/nonexistent/prefs.json"), std::runtime_error);
    EXPECT_THROW(store.setReal("Draw brush sprite", 1.0), std::runtime_error);
    EXPECT_THROW(store.setInt("Nope", 1), std::runtime_error);
}

TEST(PrefStore, SuiteReadsWithDefaultsAndTypeChecks) {
    minihost::Host host;
    host.prefs.setInt("Preview quality", 0);
    host.prefs.setRaw("Pennaro", "Draw brush sprite", 0.5, false);
    const void *table = nullptr;
    ASSERT_EQ(host.in.basicSuite->acquireSuite(HOST_PERSISTENT_DATA_SUITE, 3, &table), 0);
    auto *suite = static_cast<const HostPersistentDataSuite *>(table);
    HostPrefStore store = nullptr;
    ASSERT_EQ(suite->getApplicationStore(&store), 0);
    ASSERT_NE(store, nullptr);
    int32_t value = 9;
    EXPECT_EQ(suite->getInt(store, "Pennaro", "Preview quality", 1, &value), 0);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(suite->getInt(store, "Pennaro", "Show toolbar in composition window", 1, &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(suite->getInt(store, "Other", "Preview quality", 3, &value), 0);  // other section
    EXPECT_EQ(value, 3);
    EXPECT_NE(suite->getInt(store, "Pennaro", "Draw brush sprite", 1, &value), 0);  // holds a real
    double real = 0;
    EXPECT_EQ(suite->getReal(store, "Pennaro", "Onion skin - Opacity", 0.25, &real), 0);
    EXPECT_EQ(real, 0.25);
    host.faults.noPrefStore = true;
    EXPECT_EQ(suite->getApplicationStore(&store), 0);
    EXPECT_EQ(store, nullptr);
    host.in.basicSuite->releaseSuite(HOST_PERSISTENT_DATA_SUITE, 3);
}

TEST(PrefStore, LoadsAFile) {
    std::string path = testing::TempDir() + "/minihost_prefs.json";
    {
        std::ofstream f(path);
        f << R"({"Onion skin - Frames forward": 12})";
    }
    minihost::PrefStore store;
    store.loadJsonFile(path);
    EXPECT_EQ(store.entries()["Onion skin - Frames forward"].value, 12);
    std::remove(path.c_str());
}

}  // namespace
