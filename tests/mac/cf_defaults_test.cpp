#include "platform/mac/cf_defaults.h"
#include "base/run_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace dorvane {
namespace {

CFRef<CFTypeRef> dictionaryHolding(CFTypeRef value) {
    const CFRef<CFMutableDictionaryRef> made = makeMutableDictionary(1);
    CFDictionarySetValue(made.get(), CFSTR("entry"), value);
    return CFRef<CFTypeRef>(CFRetain(made.get()));
}

// Anyone can store any type with `defaults write`; what the application never stores reads as
// absent instead of as something else.
TEST(CFPreferencesDefaults, ValuesOfOtherTypesReadAsAbsent) {
    // A domain of the test's own, removed at the end: the application's own is never touched.
    const std::string domain = "com.dorvane.Dorvane.test-" + std::to_string(::getpid());
    const CFRef<CFStringRef> application = makeCFString(domain);
    CFPreferencesDefaults defaults(domain);
    const double real = 15.5;
    const std::int64_t whole = 15;
    const UInt8 bytes[] = {15};
    const CFRef<CFStringRef> text = makeCFString("15");
    const CFRef<CFTypeRef> realNumber(CFNumberCreate(nullptr, kCFNumberDoubleType, &real));
    struct Case {
        const char* key;
        CFRef<CFTypeRef> stored;
        std::optional<DefaultsValue> read;
    };
    // clang-format off
    const Case cases[] = {
        {"whole", CFRef<CFTypeRef>(CFNumberCreate(nullptr, kCFNumberSInt64Type, &whole)), DefaultsValue{whole}},
        {"real", CFRef<CFTypeRef>(CFRetain(realNumber.get())), std::nullopt},
        {"data", CFRef<CFTypeRef>(CFDataCreate(nullptr, bytes, 1)), std::nullopt},
        {"dictionary of texts", dictionaryHolding(text.get()), DefaultsValue{DefaultsDictionary{{"entry", std::string("15")}}}},
        {"dictionary holding a real", dictionaryHolding(realNumber.get()), std::nullopt},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        const CFRef<CFStringRef> key = makeCFString(c.key);
        CFPreferencesSetAppValue(key.get(), c.stored.get(), application.get());
        EXPECT_EQ(defaults.objectForKey(c.key), c.read);
        CFPreferencesSetAppValue(key.get(), nullptr, application.get());
    }
    CFPreferencesAppSynchronize(application.get());
    // The whole test domain goes, not only its keys: no empty file is left among the user's.
    TRBRunCommand("/usr/bin/defaults", {"delete", domain});
}

}  // namespace
}  // namespace dorvane
