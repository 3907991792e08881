#pragma once

#include <string>

#include "platform/mac/cf_support.h"
#include "platform/user_defaults.h"

namespace dorvane {

// The application's defaults through CFPreferences (the current application's domain, found by
// its bundle identifier). Every value's type is checked on read, since anyone can write any type
// with `defaults write`: a value of a kind the application does not store reads as absent.
class CFPreferencesDefaults : public UserDefaults {
public:
    CFPreferencesDefaults();
    // The domain of another application identifier, so that a test never touches the app's own.
    explicit CFPreferencesDefaults(const std::string& applicationId);

    std::optional<DefaultsValue> objectForKey(const std::string& key) const override;
    void setObject(const std::string& key, DefaultsValue value) override;
    void removeObject(const std::string& key) override;
    bool synchronize() override;

private:
    CFRef<CFStringRef> application_;
};

}  // namespace dorvane
