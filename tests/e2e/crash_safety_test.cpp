#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "base/atomic_file.h"
#include "e2e/app_process.h"
#include "platform/linux/libplist_property_lists.h"

namespace dorvane {
namespace {

using testing::AppProcess;

// Each file in the folder; a temporary file left by a write shows up here.
std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(folder, missing)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

TEST(CrashSafety, AKillInTheMiddleOfAWriteLeavesWholeFilesAndNothingAfterTheNextStart) {
    AppProcess app;
    const std::string home = app.notebook.folder() + "/home";
    ::setenv("HOME", home.c_str(), 1);
    const std::string agents = home + "/Library/LaunchAgents";
    const std::string agent = agents + "/com.dorvane.Dorvane.plist";
    const std::string settingsFolder = std::filesystem::path(app.defaultsPath()).parent_path();
    LibplistPropertyLists plists;
    std::mt19937 random(11);
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        app.start();
        ASSERT_TRUE(app.waitForKey("menu"));
        // Each toggle writes the launch agent (or removes it) and the settings at once.
        for (int toggle = 0; toggle < 40; ++toggle) {
            app.send(R"({"choose":["Launch at Login"]})");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 60));
        app.signal(SIGKILL);
        app.wait();

        if (std::filesystem::exists(agent)) {
            const auto parsed = plists.parse(readWholeFile(agent).value_or(""), nullptr);
            ASSERT_TRUE(parsed) << "the launch agent is whole";
            EXPECT_EQ(std::get<PlistDictionary>(parsed->value).at("Label"),
                      PlistValue{std::string("com.dorvane.Dorvane")});
        }
        const auto settings = plists.parse(readWholeFile(app.defaultsPath()).value_or(""), nullptr);
        ASSERT_TRUE(settings) << "the settings are whole";
    }
    app.start();
    ASSERT_TRUE(app.waitForKey("menu"));
    for (const auto& name : namesIn(agents)) {
        EXPECT_EQ(name, "com.dorvane.Dorvane.plist");
    }
    for (const auto& name : namesIn(settingsFolder)) {
        EXPECT_EQ(name, "com.dorvane.Dorvane.plist");
    }
}

}  // namespace
}  // namespace dorvane
