#include "platform/mac/cf_defaults.h"

#include "base/overloaded.h"
#include "platform/mac/cf_support.h"

namespace dorvane {
namespace {

// A boolean, a whole number or a text, as a stored dictionary holds them; absent for the rest.
std::optional<DictionaryValue> plainFromCF(CFTypeRef value) {
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFBooleanGetTypeID()) {
        return CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0;
    }
    if (type == CFNumberGetTypeID()) {
        const auto number = static_cast<CFNumberRef>(value);
        std::int64_t integer = 0;
        if (CFNumberIsFloatType(number) ||
            !CFNumberGetValue(number, kCFNumberSInt64Type, &integer)) {
            return std::nullopt;
        }
        return integer;
    }
    if (auto text = stringFromCF(value)) {
        return *text;
    }
    return std::nullopt;
}

CFRef<CFTypeRef> plainToCF(const DictionaryValue& value) {
    return std::visit(
        Overloaded{
            [](bool b) { return CFRef<CFTypeRef>(CFRetain(b ? kCFBooleanTrue : kCFBooleanFalse)); },
            [](std::int64_t n) {
                return CFRef<CFTypeRef>(
                    CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &n));
            },
            [](const std::string& s) {
                CFRef<CFStringRef> text = makeCFString(s);
                return CFRef<CFTypeRef>(text ? CFRetain(text.get()) : nullptr);
            }},
        value);
}

}  // namespace

CFPreferencesDefaults::CFPreferencesDefaults()
    : application_(static_cast<CFStringRef>(CFRetain(kCFPreferencesCurrentApplication))) {}

CFPreferencesDefaults::CFPreferencesDefaults(const std::string& applicationId)
    : application_(makeCFString(applicationId)) {}

std::optional<DefaultsValue> CFPreferencesDefaults::objectForKey(const std::string& key) const {
    const CFRef<CFStringRef> name = makeCFString(key);
    const CFRef<CFPropertyListRef> value(CFPreferencesCopyAppValue(name.get(), application_.get()));
    if (!value) {
        return std::nullopt;
    }
    const CFTypeID type = CFGetTypeID(value.get());
    if (type == CFDateGetTypeID()) {
        return dateFromCF(static_cast<CFDateRef>(value.get()));
    }
    if (type == CFDictionaryGetTypeID()) {
        DefaultsDictionary converted;
        bool plainOnly = true;
        forEachEntry(static_cast<CFDictionaryRef>(value.get()), [&](CFTypeRef key, CFTypeRef item) {
            const auto entryKey = stringFromCF(key);
            auto entry = plainFromCF(item);
            plainOnly = plainOnly && entryKey && entry;
            if (entryKey && entry) {
                converted.emplace(*entryKey, std::move(*entry));
            }
        });
        // A dictionary holding anything else is not one the application wrote.
        return plainOnly ? std::optional<DefaultsValue>(std::move(converted)) : std::nullopt;
    }
    auto plain = plainFromCF(value.get());
    if (!plain) {
        return std::nullopt;
    }
    return std::visit([](auto&& v) { return DefaultsValue{std::move(v)}; }, std::move(*plain));
}

void CFPreferencesDefaults::setObject(const std::string& key, DefaultsValue value) {
    const CFRef<CFStringRef> name = makeCFString(key);
    const CFRef<CFTypeRef> converted = std::visit(
        Overloaded{[](const Date& date) { return dateToCF(date); },
                   [](const DefaultsDictionary& dictionary) {
                       CFRef<CFMutableDictionaryRef> made =
                           makeMutableDictionary(dictionary.size());
                       for (const auto& [entryKey, entry] : dictionary) {
                           const CFRef<CFStringRef> entryName = makeCFString(entryKey);
                           const CFRef<CFTypeRef> entryValue = plainToCF(entry);
                           if (entryName && entryValue) {
                               CFDictionarySetValue(made.get(), entryName.get(), entryValue.get());
                           }
                       }
                       return CFRef<CFTypeRef>(CFRetain(made.get()));
                   },
                   [](const auto& plain) { return plainToCF(DictionaryValue{plain}); }},
        value);
    if (name && converted) {
        CFPreferencesSetAppValue(name.get(), converted.get(), application_.get());
    }
}

void CFPreferencesDefaults::removeObject(const std::string& key) {
    const CFRef<CFStringRef> name = makeCFString(key);
    CFPreferencesSetAppValue(name.get(), nullptr, application_.get());
}

bool CFPreferencesDefaults::synchronize() {
    return CFPreferencesAppSynchronize(application_.get()) != 0;
}

}  // namespace dorvane
