#pragma once

#include <sys/stat.h>

#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/main_queue.h"
#include "platform/property_list.h"
#include "platform/user_defaults.h"

namespace dorvane {

// The user defaults as one property-list file per application, shared with other programs as the
// system's defaults are: a change another program writes to the file is seen at the next read
// (the file is read again whenever its identity, size or times differ from the last reading), and
// a save writes only what this application changed onto what the file holds at that moment, so
// keys and values it did not touch survive, and a key it removed stays removed. Like the system's
// defaults it also flushes by itself: a change written without synchronize reaches the file within
// a second, and at the latest when this object goes. A file that cannot be read at start or at a
// save is moved aside, with a message on standard error, and the defaults go on without it;
// nothing is silently overwritten. Entries of kinds the application does not store (data, arrays,
// reals, texts that are not UTF-8, dictionaries holding any of these) read as absent and are
// written back unchanged.
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
    // What identifies one version of the file: a replaced file has another inode, a file written
    // in place another size or other times.
    struct FileStamp {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const FileStamp& other) const;
    };
    enum class WhenUnreadable { KeepWhatWasRead, SetAside };

    static FileStamp stampOf(const std::string& path);

    // Reads the file again when it is not the version read last. Reading only refreshes the
    // view: the file is moved aside only when told to, at start and before a save, because a
    // reader can meet a file another program is still writing in place.
    void readIfChanged(WhenUnreadable whenUnreadable) const;
    void changed();

    std::string path_;
    MainQueue& mainQueue_;
    PropertyLists& propertyLists_;
    // The file as last read. Reads happen on access, so these change under const operations.
    mutable std::optional<FileStamp> readStamp_;
    mutable std::map<std::string, DefaultsValue> values_;
    mutable std::map<std::string, PlistValue> foreignValues_;
    // This application's changes not yet written: a value set, or absent for a key removed.
    std::map<std::string, std::optional<DefaultsValue>> unsaved_;
    std::unique_ptr<TimerSource> flushTimer_;
};

// The defaults file of an application under the XDG config folder (else ~/.config).
std::string defaultsPathFor(const std::string& bundleIdentifier);

}  // namespace dorvane
