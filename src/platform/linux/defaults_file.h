#pragma once

#include <sys/stat.h>

#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "base/atomic_file.h"
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
// a second, and at the latest when this object goes. A save that fails (a full disk, a folder that
// refuses new files) keeps the changes and is tried again, less often the longer it fails, until
// it lands; savesFail tells meanwhile. A file that another program replaces while a save is being
// written is merged again before the save takes its place. A settings file that is a symbolic link
// stays one: the file it names is replaced, in its own folder. A file that cannot be read at
// start or at a save is moved aside, with a message on standard error, and the defaults go on
// without it; nothing is silently overwritten. Entries of kinds the application does not store
// (data, arrays, reals, texts that are not UTF-8, dictionaries holding any of these) read as absent
// and are written back unchanged.
class DefaultsFile : public UserDefaults {
public:
    DefaultsFile(std::string path, MainQueue& mainQueue, PropertyLists& propertyLists);
    ~DefaultsFile() override;

    std::optional<DefaultsValue> objectForKey(const std::string& key) const override;
    void setObject(const std::string& key, DefaultsValue value) override;
    void removeObject(const std::string& key) override;
    bool synchronize() override;
    bool savesFail() const override { return savesFail_; }
    void setSaveStateHandler(std::function<void()> handler) override {
        saveStateHandler_ = std::move(handler);
    }
    // Writes what changed since the last write, if anything did.
    void flushIfChanged();

    // The first wait before a failed save is tried again, and the longest: the wait doubles
    // after each failure, so a disk that stays full costs one attempt every few seconds.
    static constexpr std::chrono::milliseconds kFirstRetry{1000};
    static constexpr std::chrono::milliseconds kLongestRetry{8000};

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
    // Starts the flush timer, unless one is waiting already.
    void flushAfter(std::chrono::milliseconds delay);
    // One merge and write; Superseded when another program replaced the file meanwhile.
    AtomicWrite saveOnce(std::string* error);
    void setSavesFail(bool fail);

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
    bool savesFail_ = false;
    std::chrono::milliseconds nextRetry_ = kFirstRetry;
    std::function<void()> saveStateHandler_;
};

// The defaults file of an application under the XDG config folder (else ~/.config).
std::string defaultsPathFor(const std::string& bundleIdentifier);

}  // namespace dorvane
