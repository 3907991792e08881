#include "platform/mac/mac_bundle.h"

#include <time.h>
#include <unistd.h>

#include "platform/mac/cf_support.h"
#include "platform/mac/menu_builder.h"

namespace dorvane {

std::string MacBundle::localizedString(const std::string& key) const {
    // A key without an entry comes back as itself.
    NSString* name = toNSString(key);
    return fromNSString([[NSBundle mainBundle] localizedStringForKey:name value:name table:nil]);
}

std::optional<std::string> MacBundle::shortVersion() const {
    id version = [[NSBundle mainBundle] objectForInfoDictionaryKey:@"CFBundleShortVersionString"];
    if (![version isKindOfClass:[NSString class]]) {
        return std::nullopt;
    }
    return fromNSString(version);
}

std::optional<std::string> MacBundle::executablePath() const {
    NSString* path = [NSBundle mainBundle].executablePath;
    return path != nil ? std::optional(fromNSString(path)) : std::nullopt;
}

std::vector<std::string> MacLocale::preferredLanguages() const {
    std::vector<std::string> languages;
    const CFRef<CFArrayRef> preferred(CFLocaleCopyPreferredLanguages());
    if (!preferred) {
        return languages;
    }
    for (CFIndex i = 0; i < CFArrayGetCount(preferred.get()); ++i) {
        if (auto language = stringFromCF(CFArrayGetValueAtIndex(preferred.get(), i))) {
            languages.push_back(std::move(*language));
        }
    }
    return languages;
}

unsigned MacProcessInfo::userId() const {
    return ::getuid();
}

std::string MacProcessInfo::homeDirectory() const {
    return fromNSString(NSHomeDirectory());
}

ThermalState MacProcessInfo::thermalState() const {
    switch (NSProcessInfo.processInfo.thermalState) {
        case NSProcessInfoThermalStateNominal:
            return ThermalState::Nominal;
        case NSProcessInfoThermalStateFair:
            return ThermalState::Fair;
        case NSProcessInfoThermalStateSerious:
            return ThermalState::Serious;
        case NSProcessInfoThermalStateCritical:
            return ThermalState::Critical;
    }
    return ThermalState::Unknown;
}

std::chrono::system_clock::time_point SystemClock::now() const {
    return std::chrono::system_clock::now();
}

LocalTime SystemClock::localTime(std::chrono::system_clock::time_point moment) const {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm fields{};
    ::localtime_r(&seconds, &fields);
    return {fields.tm_hour, fields.tm_min, fields.tm_sec};
}

}  // namespace dorvane
