#include "platform/linux/defaults_file.h"

#include "base/overloaded.h"

#include <fcntl.h>
#include <stdio.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "base/atomic_file.h"
#include "base/text_lines.h"

namespace dorvane {
namespace {

PlistValue toPlist(const DictionaryValue& value) {
    return std::visit([](const auto& v) { return PlistValue{v}; }, value);
}

PlistValue toPlist(const DefaultsValue& value) {
    return std::visit(Overloaded{[](const DefaultsDictionary& dictionary) {
                                     PlistDictionary converted;
                                     for (const auto& [key, item] : dictionary) {
                                         converted.emplace(key, toPlist(item));
                                     }
                                     return PlistValue{std::move(converted)};
                                 },
                                 [](const auto& v) { return PlistValue{v}; }},
                      value);
}

std::optional<DictionaryValue> toDictionaryValue(const PlistValue& value) {
    return std::visit(
        Overloaded{[](bool b) -> std::optional<DictionaryValue> { return b; },
                   [](std::int64_t n) -> std::optional<DictionaryValue> { return n; },
                   [](const std::string& s) -> std::optional<DictionaryValue> {
                       return isValidUtf8(s) ? std::optional<DictionaryValue>(s) : std::nullopt;
                   },
                   [](const auto&) -> std::optional<DictionaryValue> { return std::nullopt; }},
        value.value);
}

// The value as the application stores it; absent when any part of it is of another kind, so that
// nothing is read half and nothing is lost when it is written back.
std::optional<DefaultsValue> toDefaults(const PlistValue& value) {
    return std::visit(
        Overloaded{[](const PlistDictionary& dictionary) -> std::optional<DefaultsValue> {
                       DefaultsDictionary converted;
                       for (const auto& [key, item] : dictionary) {
                           auto plain = toDictionaryValue(item);
                           if (!plain) {
                               return std::nullopt;
                           }
                           converted.emplace(key, std::move(*plain));
                       }
                       return converted;
                   },
                   [](const Date& d) -> std::optional<DefaultsValue> { return d; },
                   [&value](const auto&) -> std::optional<DefaultsValue> {
                       const auto plain = toDictionaryValue(value);
                       return plain ? std::optional<DefaultsValue>(std::visit(
                                          [](const auto& v) { return DefaultsValue{v}; }, *plain))
                                    : std::nullopt;
                   }},
        value.value);
}

// Moves an unreadable file to a name of its own beside it, never over an earlier one; the new
// name, or absent when it could not be moved.
std::optional<std::string> setAside(const std::string& path) {
    const std::string stem = path + ".unreadable-" + std::to_string(std::time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string aside = attempt == 0 ? stem : stem + "-" + std::to_string(attempt);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
            return aside;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

// The file a settings path stands for: the path itself, or the file its chain of symbolic links
// ends at, so that a settings file linked from elsewhere (a folder of dotfiles) stays a link.
std::string followLinks(const std::string& path) {
    std::filesystem::path current = path;
    // As many links as the kernel follows in one lookup.
    for (int hop = 0; hop < 40; ++hop) {
        std::error_code failure;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, failure))) {
            break;
        }
        const std::filesystem::path target = std::filesystem::read_symlink(current, failure);
        if (failure) {
            break;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current.string();
}

// How often a save is made again at once because another program replaced the file while it was
// being written; a file changing faster than that is left to the next attempt.
constexpr int kMergeRounds = 5;

}  // namespace

std::string defaultsPathFor(const std::string& bundleIdentifier) {
    std::string base;
    if (const char* configHome = std::getenv("XDG_CONFIG_HOME"); configHome && *configHome == '/') {
        base = configHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/dorvane/" + bundleIdentifier + ".plist";
}

bool DefaultsFile::FileStamp::operator==(const FileStamp& other) const {
    const auto sameTime = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return exists == other.exists && device == other.device && inode == other.inode &&
           size == other.size && sameTime(modified, other.modified) &&
           sameTime(changed, other.changed);
}

DefaultsFile::FileStamp DefaultsFile::stampOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
        return FileStamp{true,           status.st_dev,  status.st_ino,
                         status.st_size, status.st_mtim, status.st_ctim};
    }
    // Only a name that is not there at all is missing; a link to nowhere, or a file that cannot
    // be examined, is a file that cannot be read.
    const bool absent = errno == ENOENT;
    struct stat link {};
    return FileStamp{!absent || ::lstat(path.c_str(), &link) == 0};
}

DefaultsFile::DefaultsFile(std::string path, MainQueue& mainQueue, PropertyLists& propertyLists)
    : path_(std::move(path)), mainQueue_(mainQueue), propertyLists_(propertyLists) {
    removeStaleTemporaryFiles(followLinks(path_));
    readIfChanged(WhenUnreadable::SetAside);
}

DefaultsFile::~DefaultsFile() {
    flushIfChanged();
}

void DefaultsFile::flushIfChanged() {
    // A failed save is tried again even when it had nothing of ours to write, so that the failure
    // it reported ends once the file can be written.
    if (!unsaved_.empty() || savesFail_) {
        synchronize();
    }
}

void DefaultsFile::readIfChanged(WhenUnreadable whenUnreadable) const {
    // The stamp is taken before the read: a file replaced in between is then read again next
    // time, never taken for the version read.
    const FileStamp stamp = stampOf(path_);
    if (readStamp_ == stamp) {
        return;
    }
    if (!stamp.exists) {
        values_.clear();
        foreignValues_.clear();
        readStamp_ = stamp;
        return;
    }
    std::string error;
    const auto bytes = readWholeFile(path_, &error);
    const auto root = bytes ? propertyLists_.parse(*bytes, &error) : std::nullopt;
    const auto* dictionary = root ? std::get_if<PlistDictionary>(&root->value) : nullptr;
    if (dictionary == nullptr) {
        if (whenUnreadable == WhenUnreadable::KeepWhatWasRead) {
            // Tried again only once the file changes once more.
            readStamp_ = stamp;
            return;
        }
        const auto aside = setAside(path_);
        std::cerr << "dorvane: the settings file " << path_ << " could not be read ("
                  << (error.empty() ? "its top level is not a dictionary" : error) << "); "
                  << (aside ? "it was moved to " + *aside : "it could not be moved aside either")
                  << (values_.empty() && foreignValues_.empty()
                          ? ", and the settings start empty\n"
                          : ", and the settings last read are kept\n");
        readStamp_ = stampOf(path_);
        return;
    }
    values_.clear();
    foreignValues_.clear();
    for (const auto& [key, value] : *dictionary) {
        if (auto converted = toDefaults(value)) {
            values_.emplace(key, std::move(*converted));
        } else {
            foreignValues_.emplace(key, value);
        }
    }
    readStamp_ = stamp;
}

std::optional<DefaultsValue> DefaultsFile::objectForKey(const std::string& key) const {
    if (const auto unsaved = unsaved_.find(key); unsaved != unsaved_.end()) {
        return unsaved->second;
    }
    readIfChanged(WhenUnreadable::KeepWhatWasRead);
    const auto found = values_.find(key);
    return found == values_.end() ? std::nullopt : std::optional(found->second);
}

void DefaultsFile::setObject(const std::string& key, DefaultsValue value) {
    unsaved_[key] = std::move(value);
    changed();
}

void DefaultsFile::removeObject(const std::string& key) {
    const bool present =
        objectForKey(key).has_value() || (!unsaved_.contains(key) && foreignValues_.contains(key));
    if (present) {
        unsaved_[key] = std::nullopt;
        changed();
    }
}

void DefaultsFile::changed() {
    flushAfter(std::chrono::milliseconds(500));
}

void DefaultsFile::flushAfter(std::chrono::milliseconds delay) {
    if (!flushTimer_) {
        flushTimer_ =
            mainQueue_.startTimer(TimerSpec{delay, {}, std::chrono::milliseconds(400)}, [this] {
                flushTimer_.reset();
                flushIfChanged();
            });
    }
}

void DefaultsFile::setSavesFail(bool fail) {
    if (fail != savesFail_) {
        savesFail_ = fail;
        if (saveStateHandler_) {
            mainQueue_.post(saveStateHandler_);
        }
    }
}

bool DefaultsFile::synchronize() {
    std::string error;
    AtomicWrite outcome = AtomicWrite::Superseded;
    for (int round = 0; round < kMergeRounds && outcome == AtomicWrite::Superseded; ++round) {
        outcome = saveOnce(&error);
    }
    if (outcome != AtomicWrite::Written) {
        // The changes stay waiting; told once, not at every attempt.
        if (!savesFail_) {
            std::cerr << "dorvane: the settings could not be saved ("
                      << (outcome == AtomicWrite::Failed ? error : "the file kept changing")
                      << "); trying again until they can be\n";
        }
        setSavesFail(true);
        flushAfter(nextRetry_);
        nextRetry_ = std::min(nextRetry_ * 2, kLongestRetry);
        return false;
    }
    unsaved_.clear();
    // Our own write is read back at the next access, so a change another program makes right
    // after it is never taken for ours.
    readStamp_.reset();
    nextRetry_ = kFirstRetry;
    if (savesFail_) {
        std::cerr << "dorvane: the settings were saved again\n";
        setSavesFail(false);
    }
    return true;
}

AtomicWrite DefaultsFile::saveOnce(std::string* error) {
    // What the file holds now is the base, read even when it looks unchanged: a write in place
    // within the same clock tick keeps its size and times.
    readStamp_.reset();
    readIfChanged(WhenUnreadable::SetAside);
    const FileStamp base = readStamp_.value_or(FileStamp{});
    for (const auto& [key, value] : unsaved_) {
        values_.erase(key);
        foreignValues_.erase(key);
        if (value) {
            values_.emplace(key, *value);
        }
    }
    PlistDictionary root(foreignValues_.begin(), foreignValues_.end());
    for (const auto& [key, value] : values_) {
        root.emplace(key, toPlist(value));
    }
    const auto xml = propertyLists_.xmlData(PlistValue{std::move(root)}, error);
    if (!xml) {
        return AtomicWrite::Failed;
    }
    const std::string target = followLinks(path_);
    std::error_code folderFailure;
    std::filesystem::create_directories(std::filesystem::path(target).parent_path(), folderFailure);
    return writeFileAtomicallyIf(
        target, *xml, [&] { return stampOf(path_) == base; }, error, 0600);
}

}  // namespace dorvane
