#include "app/defaults_access.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace dorvane {
namespace {

TEST(DefaultsAccess, CoercesAsTheSystemsDefaultsDo) {
    struct Case {
        const char* what;
        std::optional<DefaultsValue> stored;
        std::int64_t integer;
        bool boolean;
        std::optional<std::string> text;
    };
    // clang-format off
    const Case cases[] = {
        {"missing", std::nullopt, 0, false, std::nullopt},
        {"integer 1", std::int64_t{1}, 1, true, "1"},
        {"integer -1", std::int64_t{-1}, -1, true, "-1"},
        {"integer 0", std::int64_t{0}, 0, false, "0"},
        {"true", true, 1, true, "1"},
        {"text with a number", std::string(" 42 apples"), 42, true, " 42 apples"},
        {"text YES", std::string("YES"), 0, true, "YES"},
        {"huge text number saturates", std::string("99999999999999999999999"), INT64_MAX, true, "99999999999999999999999"},
        {"a dictionary", DefaultsDictionary{{"a", true}}, 0, false, std::nullopt},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::FakeDefaults defaults;
        if (c.stored) {
            defaults.values["key"] = *c.stored;
        }
        EXPECT_EQ(integerForKey(defaults, "key"), c.integer);
        EXPECT_EQ(boolForKey(defaults, "key"), c.boolean);
        EXPECT_EQ(stringForKey(defaults, "key"), c.text);
    }
}

}  // namespace
}  // namespace dorvane
