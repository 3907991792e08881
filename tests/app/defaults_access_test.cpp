#include "app/defaults_access.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace dorvane {
namespace {

TEST(DefaultsAccess, CoercesAsTheSystemsDefaultsDo) {
    // clang-format off
    const std::tuple<const char*, std::optional<DefaultsValue>, std::optional<std::int64_t>, bool, std::optional<std::string>> cases[] = {
        {"missing", std::nullopt, std::nullopt, false, std::nullopt},
        {"integer 1", std::int64_t{1}, 1, true, "1"},
        {"integer -1", std::int64_t{-1}, -1, true, "-1"},
        {"integer 0", std::int64_t{0}, 0, false, "0"},
        {"true", true, 1, true, "1"},
        {"text with a number", std::string(" 42 apples"), 42, true, " 42 apples"},
        {"text YES", std::string("YES"), std::nullopt, true, "YES"},
        {"text yes", std::string("yes"), std::nullopt, true, "yes"},
        {"a negative number as text", std::string("-1"), -1, true, "-1"},
        {"text with a leading zero", std::string("01"), 1, true, "01"},
        {"a sign and no digits", std::string("-x"), std::nullopt, false, "-x"},
        {"huge text number saturates", std::string("99999999999999999999999"), INT64_MAX, true, "99999999999999999999999"},
        {"a dictionary", DefaultsDictionary{{"a", true}}, std::nullopt, false, std::nullopt},
    };
    // clang-format on
    for (const auto& [what, stored, integer, boolean, text] : cases) {
        SCOPED_TRACE(what);
        testing::FakeDefaults defaults;
        if (stored) {
            defaults.values["key"] = *stored;
        }
        EXPECT_EQ(storedIntegerForKey(defaults, "key"), integer);
        EXPECT_EQ(integerForKey(defaults, "key"), integer.value_or(0));
        EXPECT_EQ(boolForKey(defaults, "key"), boolean);
        EXPECT_EQ(stringForKey(defaults, "key"), text);
    }
}

}  // namespace
}  // namespace dorvane
