#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/main_queue.h"
#include "platform/property_list.h"
#include "platform/user_defaults.h"

namespace dorvane {

// The user defaults as one property-list file per application, read at start and written
// atomically. Like the system's defaults it also flushes by itself: a change written without
// synchronize reaches the file within a second, and at the latest when this object goes. A file
// that cannot be read is moved aside, with a message on standard error, and the defaults start
// empty; nothing is silently overwritten. Entries of kinds the application does not store (data,
// arrays, reals, texts that are not UTF-8, dictionaries holding any of these) read as absent and
// are written back unchanged.
class DefaultsFile : public UserDefaults {
public:
    DefaultsFile(std::string path, MainQueue& mainQueue, PropertyLists& propertyLists);
    ~DefaultsFile() override;

    std::optional<DefaultsValue> objectForKey(const std::string& key) const override;
    void setObject(const std::string& key, DefaultsValue value) override;
    void removeObject(const std::string& key) override;
    bool synchronize() override;
    // Writes what changed since the last write, if anything did.
    void flushIfChanged();

    const std::string& path() const { return path_; }

private:
    void load();
    void changed();

    std::string path_;
    MainQueue& mainQueue_;
    PropertyLists& propertyLists_;
    std::map<std::string, DefaultsValue> values_;
    std::map<std::string, PlistValue> foreignValues_;
    bool dirty_ = false;
    std::unique_ptr<TimerSource> flushTimer_;
};

// The defaults file of an application under the XDG config folder (else ~/.config).
std::string defaultsPathFor(const std::string& bundleIdentifier);

}  // namespace dorvane
