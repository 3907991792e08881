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

TEST(Format, PadsNegativeNumbersAndNeverReadsAnArgumentAsAFormat) {
    EXPECT_EQ(formatString("%05ld", {std::int64_t{-5}}), "-0005");
    EXPECT_EQ(formatString("%@", {std::string("%@ %n %s")}), "%@ %n %s");
}

}  // namespace
}  // namespace dorvane
