#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/user_defaults.h"

namespace dorvane {

// Owns one Core Foundation reference and releases it, whatever path leaves the scope.
template <typename Ref>
class CFRef {
public:
    CFRef() = default;
    explicit CFRef(Ref ref) : ref_(ref) {}
    ~CFRef() {
        if (ref_ != nullptr) {
            CFRelease(ref_);
        }
    }
    CFRef(CFRef&& other) noexcept : ref_(std::exchange(other.ref_, nullptr)) {}
    CFRef& operator=(CFRef&& other) noexcept {
        std::swap(ref_, other.ref_);
        return *this;
    }
    CFRef(const CFRef&) = delete;
    CFRef& operator=(const CFRef&) = delete;

    Ref get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }

private:
    Ref ref_ = nullptr;
};

inline CFRef<CFStringRef> makeCFString(const std::string& text) {
    return CFRef<CFStringRef>(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(text.data()),
                                static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
}

// The UTF-8 text of a string; absent for anything that is not a string.
inline std::optional<std::string> stringFromCF(CFTypeRef value) {
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) {
        return std::nullopt;
    }
    const auto text = static_cast<CFStringRef>(value);
    const CFIndex length = CFStringGetLength(text);
    const CFIndex capacity = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8) + 1;
    std::string bytes(static_cast<std::size_t>(capacity), '\0');
    if (!CFStringGetCString(text, bytes.data(), capacity, kCFStringEncodingUTF8)) {
        return std::nullopt;
    }
    bytes.resize(std::char_traits<char>::length(bytes.c_str()));
    return bytes;
}

// Dates count from 2001 in Core Foundation and from 1970 here.
inline Date dateFromCF(CFDateRef date) {
    const double seconds = CFDateGetAbsoluteTime(date) + kCFAbsoluteTimeIntervalSince1970;
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds)));
}

inline CFRef<CFTypeRef> dateToCF(const Date& date) {
    const double seconds = std::chrono::duration<double>(date.time_since_epoch()).count();
    return CFRef<CFTypeRef>(
        CFDateCreate(kCFAllocatorDefault, seconds - kCFAbsoluteTimeIntervalSince1970));
}

inline CFRef<CFMutableDictionaryRef> makeMutableDictionary(std::size_t capacity) {
    return CFRef<CFMutableDictionaryRef>(CFDictionaryCreateMutable(
        kCFAllocatorDefault, static_cast<CFIndex>(capacity), &kCFTypeDictionaryKeyCallBacks,
        &kCFTypeDictionaryValueCallBacks));
}

// Calls visit(key, value) for each entry, in no particular order.
template <typename Visit>
void forEachEntry(CFDictionaryRef dictionary, Visit visit) {
    const CFIndex count = CFDictionaryGetCount(dictionary);
    std::vector<const void*> keys(static_cast<std::size_t>(count));
    std::vector<const void*> values(static_cast<std::size_t>(count));
    CFDictionaryGetKeysAndValues(dictionary, keys.data(), values.data());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        visit(static_cast<CFTypeRef>(keys[i]), static_cast<CFTypeRef>(values[i]));
    }
}

}  // namespace dorvane
