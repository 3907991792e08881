#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dorvane {

// Orders two version texts as a numeric-aware comparison does: runs of digits compare by their
// value, however long, without becoming machine integers; other characters compare one by one;
// a text that is a prefix of the other orders first. Negative, zero or positive.
int compareVersions(std::string_view a, std::string_view b);

// The leading part of a version text that matches ^[0-9]+(\.[0-9]+)*; absent when it does not
// begin with a digit.
std::optional<std::string> leadingVersion(std::string_view text);

// What the manifest offers, chosen for the user's language.
struct UpdateManifest {
    std::string version;  // the leading version
    std::string changelog;
    std::string downloadURL;  // empty unless it is an http or https address
};

// Reads the manifest: a JSON object whose "version" is a string beginning with a number. Members
// of another type count as missing. Absent when the body is no such manifest.
std::optional<UpdateManifest> parseUpdateManifest(std::string_view body, bool preferEnglish);

// A body larger than this is a failed check, not a memory spike.
inline constexpr std::size_t kMaxManifestBytes = 1024 * 1024;

}  // namespace dorvane
