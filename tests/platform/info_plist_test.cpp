#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/atomic_file.h"
#include "platform/linux/libplist_property_lists.h"

namespace dorvane {
namespace {

// The bundle's Info.plist as the build configures it: the project's version, the languages of the
// shipped string tables, and no Dock icon.
TEST(InfoPlist, HoldsWhatTheBundleNeeds) {
    LibplistPropertyLists plists;
    const auto root = plists.parse(
        readWholeFile(std::string(DORVANE_BUILD_DIR) + "/Info.plist").value_or(""), nullptr);
    ASSERT_TRUE(root);
    const auto& info = std::get<PlistDictionary>(root->value);
    const std::string version = DORVANE_PROJECT_VERSION;
    PlistArray languages;
    for (const auto& entry : std::filesystem::directory_iterator(DORVANE_RESOURCES_DIR)) {
        if (entry.path().extension() == ".lproj") {
            languages.push_back({entry.path().stem().string()});
        }
    }
    std::sort(languages.begin(), languages.end(), [](const PlistValue& a, const PlistValue& b) {
        return std::get<std::string>(a.value) < std::get<std::string>(b.value);
    });
    const std::pair<const char*, PlistValue> wanted[] = {
        {"CFBundleShortVersionString", {version.substr(0, version.rfind('.'))}},
        {"CFBundleVersion", {version}},
        {"CFBundleLocalizations", {languages}},
        {"LSUIElement", {true}},
    };
    for (const auto& [key, value] : wanted) {
        ASSERT_TRUE(info.contains(key)) << key;
        EXPECT_EQ(info.at(key), value) << key;
    }
}

}  // namespace
}  // namespace dorvane
