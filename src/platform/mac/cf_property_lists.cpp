#include "platform/mac/cf_property_lists.h"

#include "base/overloaded.h"
#include "platform/mac/cf_support.h"

namespace dorvane {
namespace {

// Deeper nesting than this is no property list the application writes or reads.
constexpr int kMaximumDepth = 32;

CFRef<CFTypeRef> toCF(const PlistValue& value) {
    return std::visit(
        Overloaded{
            [](bool b) { return CFRef<CFTypeRef>(CFRetain(b ? kCFBooleanTrue : kCFBooleanFalse)); },
            [](std::int64_t n) {
                return CFRef<CFTypeRef>(
                    CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &n));
            },
            [](double d) {
                return CFRef<CFTypeRef>(
                    CFNumberCreate(kCFAllocatorDefault, kCFNumberDoubleType, &d));
            },
            [](const std::string& s) {
                CFRef<CFStringRef> text = makeCFString(s);
                return CFRef<CFTypeRef>(text ? CFRetain(text.get()) : nullptr);
            },
            [](const Date& date) { return dateToCF(date); },
            [](const PlistData& data) {
                return CFRef<CFTypeRef>(CFDataCreate(
                    kCFAllocatorDefault, reinterpret_cast<const UInt8*>(data.bytes.data()),
                    static_cast<CFIndex>(data.bytes.size())));
            },
            [](const PlistArray& array) {
                CFRef<CFMutableArrayRef> made(
                    CFArrayCreateMutable(kCFAllocatorDefault, static_cast<CFIndex>(array.size()),
                                         &kCFTypeArrayCallBacks));
                for (const PlistValue& item : array) {
                    if (const CFRef<CFTypeRef> converted = toCF(item)) {
                        CFArrayAppendValue(made.get(), converted.get());
                    }
                }
                return CFRef<CFTypeRef>(CFRetain(made.get()));
            },
            [](const PlistDictionary& dictionary) {
                CFRef<CFMutableDictionaryRef> made = makeMutableDictionary(dictionary.size());
                for (const auto& [key, item] : dictionary) {
                    const CFRef<CFStringRef> name = makeCFString(key);
                    const CFRef<CFTypeRef> converted = toCF(item);
                    if (name && converted) {
                        CFDictionarySetValue(made.get(), name.get(), converted.get());
                    }
                }
                return CFRef<CFTypeRef>(CFRetain(made.get()));
            }},
        value.value);
}

// Converts a parsed value; sets tooDeep and gives up past the maximum depth.
std::optional<PlistValue> fromCF(CFTypeRef value, int depth, bool& tooDeep) {
    if (depth > kMaximumDepth) {
        tooDeep = true;
        return std::nullopt;
    }
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFBooleanGetTypeID()) {
        return PlistValue{CFBooleanGetValue(static_cast<CFBooleanRef>(value)) != 0};
    }
    if (type == CFNumberGetTypeID()) {
        const auto number = static_cast<CFNumberRef>(value);
        if (CFNumberIsFloatType(number)) {
            double d = 0;
            CFNumberGetValue(number, kCFNumberDoubleType, &d);
            return PlistValue{d};
        }
        std::int64_t n = 0;
        CFNumberGetValue(number, kCFNumberSInt64Type, &n);
        return PlistValue{n};
    }
    if (auto text = stringFromCF(value)) {
        return PlistValue{std::move(*text)};
    }
    if (type == CFDateGetTypeID()) {
        return PlistValue{dateFromCF(static_cast<CFDateRef>(value))};
    }
    if (type == CFDataGetTypeID()) {
        const auto data = static_cast<CFDataRef>(value);
        return PlistValue{
            PlistData{std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                                  static_cast<std::size_t>(CFDataGetLength(data)))}};
    }
    if (type == CFArrayGetTypeID()) {
        const auto array = static_cast<CFArrayRef>(value);
        PlistArray converted;
        for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
            auto item = fromCF(CFArrayGetValueAtIndex(array, i), depth + 1, tooDeep);
            if (tooDeep) {
                return std::nullopt;
            }
            if (item) {
                converted.push_back(std::move(*item));
            }
        }
        return PlistValue{std::move(converted)};
    }
    if (type == CFDictionaryGetTypeID()) {
        PlistDictionary converted;
        forEachEntry(static_cast<CFDictionaryRef>(value), [&](CFTypeRef key, CFTypeRef item) {
            auto entry = tooDeep ? std::nullopt : fromCF(item, depth + 1, tooDeep);
            if (const auto name = stringFromCF(key); name && entry) {
                converted.emplace(*name, std::move(*entry));
            }
        });
        return tooDeep ? std::nullopt : std::optional(PlistValue{std::move(converted)});
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> CFPropertyLists::xmlData(const PlistValue& root, std::string* error) {
    const CFRef<CFTypeRef> value = toCF(root);
    const CFRef<CFDataRef> data(value ? CFPropertyListCreateData(kCFAllocatorDefault, value.get(),
                                                                 kCFPropertyListXMLFormat_v1_0, 0,
                                                                 nullptr)
                                      : nullptr);
    if (!data) {
        if (error != nullptr) {
            *error = "the property list could not be written as XML";
        }
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(CFDataGetBytePtr(data.get())),
                       static_cast<std::size_t>(CFDataGetLength(data.get())));
}

std::optional<PlistValue> CFPropertyLists::parse(std::string_view data, std::string* error) {
    const CFRef<CFDataRef> bytes(CFDataCreate(kCFAllocatorDefault,
                                              reinterpret_cast<const UInt8*>(data.data()),
                                              static_cast<CFIndex>(data.size())));
    const CFRef<CFPropertyListRef> root(
        bytes ? CFPropertyListCreateWithData(kCFAllocatorDefault, bytes.get(),
                                             kCFPropertyListImmutable, nullptr, nullptr)
              : nullptr);
    bool tooDeep = false;
    auto value = root ? fromCF(root.get(), 0, tooDeep) : std::nullopt;
    if (!value && error != nullptr) {
        *error = tooDeep ? "a property list nested too deep" : "not a property list";
    }
    return value;
}

}  // namespace dorvane
