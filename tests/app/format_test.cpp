#include "base/format.h"

#include <gtest/gtest.h>

namespace dorvane {
namespace {

TEST(Format, SubstitutesTypedArguments) {
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
}

TEST(Format, WritesTimesAndTheCommandFormat) {
    EXPECT_EQ(formatString("%02ld:%02ld:00", {std::int64_t{7}, std::int64_t{5}}), "07:05:00");
    EXPECT_EQ(formatString("%05ld", {std::int64_t{-5}}), "-0005");
    EXPECT_EQ(formatString("printf '#%d X: %@\\n'", {std::int64_t{501}, std::string("a, b")}),
              "printf '#501 X: a, b\\n'");
    EXPECT_EQ(formatString("%@", {std::string("%@ %n %s")}), "%@ %n %s")
        << "an argument's own percent signs are never read as placeholders";
}

}  // namespace
}  // namespace dorvane
