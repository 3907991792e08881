#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "base/atomic_file.h"
#include "platform/linux/libplist_property_lists.h"

namespace dorvane {
namespace {

namespace fs = std::filesystem;
const fs::path kRepository = DORVANE_REPOSITORY_DIR;

std::vector<fs::path> sourcesUnder(const fs::path& folder) {
    std::vector<fs::path> sources;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const auto extension = entry.path().extension();
        if (extension == ".h" || extension == ".cpp" || extension == ".mm") {
            sources.push_back(entry.path());
        }
    }
    return sources;
}

// The bundle's Info.plist as the build configures it: the project's version, the languages of the
// shipped string tables, and no Dock icon.
TEST(Layout, TheInfoPlistHoldsWhatTheBundleNeeds) {
    LibplistPropertyLists plists;
    const auto root = plists.parse(
        readWholeFile(std::string(DORVANE_BUILD_DIR) + "/Info.plist").value_or(""), nullptr);
    ASSERT_TRUE(root);
    const auto& info = std::get<PlistDictionary>(root->value);
    const std::string version = DORVANE_PROJECT_VERSION;
    PlistArray languages;
    for (const auto& entry : fs::directory_iterator(kRepository / "resources")) {
        if (entry.path().extension() == ".lproj") {
            languages.push_back({entry.path().stem().string()});
        }
    }
    std::sort(languages.begin(), languages.end(), [](const PlistValue& a, const PlistValue& b) {
        return std::get<std::string>(a.value) < std::get<std::string>(b.value);
    });
    // clang-format off
    const std::pair<const char*, PlistValue> wanted[] = {
        {"CFBundleShortVersionString", {version.substr(0, version.rfind('.'))}},
        {"CFBundleVersion", {version}},
        {"CFBundleLocalizations", {languages}},
        {"LSUIElement", {true}},
    };
    // clang-format on
    for (const auto& [key, value] : wanted) {
        ASSERT_TRUE(info.contains(key)) << key;
        EXPECT_EQ(info.at(key), value) << key;
    }
}

// No backend and not the simulated notebook reach above the seam, and the base reaches nothing
// but itself.
TEST(Layout, EachLayerIncludesOnlyWhatLiesBelowIt) {
    static const std::regex core(
        R"re(#\s*(include|import)\s*"(app|system|quiet|ui|login|update)/)re");
    static const std::regex aboveBase(R"re(#\s*(include|import)\s*"(?!base/)[a-z]+/)re");
    for (const auto& folder : {"src/platform", "tools/sim", "src/base"}) {
        for (const auto& source : sourcesUnder(kRepository / folder)) {
            const std::string text = readWholeFile(source.string()).value_or("");
            EXPECT_FALSE(std::regex_search(text, core)) << source;
            if (std::string(folder) == "src/base") {
                EXPECT_FALSE(std::regex_search(text, aboveBase)) << source;
            }
        }
    }
}

// The macOS sources are never compiled here: at least they call nothing that only Linux has,
// and the Apple build names only files that exist.
TEST(Layout, TheMacBackendUsesNothingLinuxOnlyAndItsBuildNamesRealFiles) {
    static const std::regex linuxOnly(
        R"re(epoll|eventfd|signalfd|inotify|ncurses|plist/plist\.h|platform/(linux|terminal)/|/proc/|<linux/|curl)re");
    std::vector<fs::path> sources = sourcesUnder(kRepository / "src/platform/mac");
    sources.push_back(kRepository / "src/main/main_mac.mm");
    for (const auto& source : sources) {
        EXPECT_FALSE(std::regex_search(readWholeFile(source.string()).value_or(""), linuxOnly))
            << source;
    }
    const std::string build =
        readWholeFile((kRepository / "src/platform/mac/mac.cmake").string()).value_or("");
    static const std::regex named(R"re(((platform/mac|main)/[a-z_]+\.(cpp|mm)))re");
    int files = 0;
    for (auto it = std::sregex_iterator(build.begin(), build.end(), named);
         it != std::sregex_iterator(); ++it) {
        EXPECT_TRUE(fs::exists(kRepository / "src" / (*it)[1].str())) << (*it)[1].str();
        ++files;
    }
    EXPECT_GE(files, 10);
}

}  // namespace
}  // namespace dorvane
