#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

#include "base/atomic_file.h"
#include "base/format.h"
#include "base/strings_file.h"

namespace dorvane {
namespace {

TEST(Format, SubstitutesTypedArgumentsAndNeverTakesOneForAFormat) {
    // Every case is formatted with the arguments ("Power", 42, "Battery").
    // clang-format off
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"text and integer in order", "%@ is %ld", "Power is 42"},
        {"plain %d", "%d", "Power"},  // the first argument, written in its own form
        {"positional forms as translations reorder them", "%3$@ / %1$@ (%2$ld)", "Battery / Power (42)"},
        {"zero-padded width", "%1$@ %2$05ld", "Power 00042"},
        {"a percent sign", "100%% %@", "100% Power"},
        {"unknown conversions are copied", "%x %n %s", "%x %n Power"},
        {"a placeholder past the arguments stays", "%@ %ld %@ %@", "Power 42 Battery %@"},
        {"a positional placeholder past the arguments stays", "%9$@ and %0$@", "%9$@ and %0$@"},
        {"a huge position or width is not taken", "%99999999$@ %99999999d", "%99999999$@ %99999999d"},
        {"long and short length modifiers", "%lld %hd %zd", "Power 42 Battery"},
    };
    // clang-format on
    for (const auto& [what, format, want] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(
            formatString(format, {std::string("Power"), std::int64_t{42}, std::string("Battery")}),
            want);
    }
    EXPECT_EQ(formatString("%05ld", {std::int64_t{-5}}), "-0005");
    EXPECT_EQ(formatString("%@", {std::string("%@ %n %s")}), "%@ %n %s");
}

using namespace std::string_literals;  // for literals that hold NULs

TEST(StringsFile, ParsesTheFormatAndRefusesBrokenFilesWithALineNumber) {
    // clang-format off
    const std::tuple<const char*, std::string, std::optional<StringsTable>, std::string> cases[] = {
        {"plain entries", "\"a\" = \"1\";\n\"b\"=\"2\";", StringsTable{{"a", "1"}, {"b", "2"}}, ""},
        {"comments of both kinds", "/* c */ \"a\" = /* x */ \"1\"; // tail\n// \"b\" = \"2\";\n", StringsTable{{"a", "1"}}, ""},
        {"escapes", R"("k" = "q\"b\\n\n t\t \U00e9 \101";)", StringsTable{{"k", "q\"b\\n\n t\t \xC3\xA9 A"}}, ""},
        {"surrogate pair through \\U", R"("k" = "\UD83D\UDE00";)", StringsTable{{"k", "\xF0\x9F\x98\x80"}}, ""},
        {"bare words", "menu.edit = Edit_1;", StringsTable{{"menu.edit", "Edit_1"}}, ""},
        {"a lone key stands for itself", "\"same\";", StringsTable{{"same", "same"}}, ""},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF\"a\" = \"\xE4\xB8\xAD\";", StringsTable{{"a", "\xE4\xB8\xAD"}}, ""},
        {"UTF-16 little-endian", "\xFF\xFE\"\0a\0\"\0=\0\"\0-N\"\0;\0"s, StringsTable{{"a", "\xE4\xB8\xAD"}}, ""},
        {"UTF-16 big-endian", "\xFE\xFF\0\"\0a\0\"\0=\0\"N-\0\"\0;"s, StringsTable{{"a", "\xE4\xB8\xAD"}}, ""},
        {"missing semicolon", "\"a\" = \"1\"\n\"b\" = \"2\";", std::nullopt, "line 2"},
        {"unclosed quote", "\"a\" = \"1;\n", std::nullopt, "line"},
        {"bad hexadecimal escape", R"("a" = "\U12G4";)", std::nullopt, "line 1"},
        {"unpaired surrogate", R"("a" = "\UD83D";)", std::nullopt, "line 1"},
        {"odd UTF-16", "\xFF\xFE\"", std::nullopt, "UTF-16"},
    };
    // clang-format on
    for (const auto& [what, bytes, want, errorStart] : cases) {
        SCOPED_TRACE(what);
        std::string error;
        EXPECT_EQ(parseStringsFile(bytes, &error), want);
        EXPECT_TRUE(error.starts_with(errorStart)) << error;
    }
}

// The kinds of the placeholders in a format text, in order, so translations can be compared.
std::vector<std::string> placeholderKinds(const std::string& text) {
    static const std::regex placeholder(R"(%(\d+\$)?[-0 +#]*\d*l{0,2}([@dis]))");
    std::vector<std::string> kinds;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder);
         it != std::sregex_iterator(); ++it) {
        kinds.push_back((*it)[2].str() == "@" || (*it)[2].str() == "s" ? "text" : "integer");
    }
    return kinds;
}

// A table the application ships, parsed.
StringsTable loadShipped(const char* language) {
    const auto path = std::filesystem::path(DORVANE_RESOURCES_DIR) /
                      (std::string(language) + ".lproj") / "Localizable.strings";
    std::string error;
    const auto table = parseStringsFile(readWholeFile(path.string()).value_or(""), &error);
    EXPECT_TRUE(table.has_value()) << path << ": " << error;
    return table.value_or(StringsTable{});
}

// The shipped tables hold every key the application looks up (those listed by hand, which include
// keys built at run time, and every key the sources spell) and agree on keys and placeholders.
TEST(ShippedTables, HoldEveryKeyTheApplicationLooksUpAndAgree) {
    const StringsTable english = loadShipped("en");
    const StringsTable chinese = loadShipped("zh-Hans");
    std::vector<std::pair<std::string, std::string>> used;  // each key, and where it was found
    std::istringstream listed(readWholeFile(DORVANE_TEST_DATA_DIR "/keys.txt").value_or(""));
    for (std::string key; std::getline(listed, key);) {
        used.emplace_back(key, "keys.txt");
    }
    EXPECT_GT(used.size(), 100u);
    static const std::regex keyLiteral(
        R"re("((app|status|error|dialog|button|menu|label|mode|value|update)\.[a-z0-9_.]+)")re");
    for (const auto& entry :
         std::filesystem::recursive_directory_iterator(std::filesystem::path(DORVANE_SOURCE_DIR))) {
        const std::string source =
            entry.is_regular_file() ? readWholeFile(entry.path().string()).value_or("") : "";
        for (auto it = std::sregex_iterator(source.begin(), source.end(), keyLiteral);
             it != std::sregex_iterator(); ++it) {
            used.emplace_back((*it)[1].str(), entry.path().string());
        }
    }
    for (const auto& [key, where] : used) {
        EXPECT_TRUE(english.contains(key)) << where << " uses " << key;
        EXPECT_TRUE(chinese.contains(key)) << where << " uses " << key;
    }

    for (const auto& [key, text] : english) {
        const auto translated = chinese.find(key);
        ASSERT_NE(translated, chinese.end()) << key;
        EXPECT_EQ(placeholderKinds(text), placeholderKinds(translated->second)) << key;
        EXPECT_TRUE(placeholderKinds(text).empty() || key.ends_with("_format"))
            << key << " holds placeholders";
    }
    EXPECT_EQ(english.size(), chinese.size());
}

}  // namespace
}  // namespace dorvane
