#include "update/version_check.h"

#include <nlohmann/json.hpp>

#include "base/text_lines.h"

namespace dorvane {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Compares two runs of digits by value: leading zeros aside, the longer run is larger, and runs
// of one length compare digit by digit.
int compareDigitRuns(std::string_view a, std::string_view b) {
    const auto significant = [](std::string_view run) {
        const std::size_t first = run.find_first_not_of('0');
        return first == std::string_view::npos ? std::string_view() : run.substr(first);
    };
    a = significant(a);
    b = significant(b);
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b) < 0 ? -1 : (a.compare(b) > 0 ? 1 : 0);
}

bool isWebAddress(const std::string& address) {
    const std::string lower = asciiLower(address);
    return lower.starts_with("https://") || lower.starts_with("http://");
}

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const std::size_t runA = i;
            const std::size_t runB = j;
            while (i < a.size() && isDigit(a[i]))
                ++i;
            while (j < b.size() && isDigit(b[j]))
                ++j;
            if (const int order =
                    compareDigitRuns(a.substr(runA, i - runA), b.substr(runB, j - runB));
                order != 0) {
                return order;
            }
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    const bool aLeft = i < a.size();
    const bool bLeft = j < b.size();
    return aLeft == bLeft ? 0 : (aLeft ? 1 : -1);
}

std::optional<std::string> leadingVersion(std::string_view text) {
    std::size_t end = 0;
    while (end < text.size() && isDigit(text[end]))
        ++end;
    if (end == 0) {
        return std::nullopt;
    }
    // Each further group is a dot followed by at least one digit.
    while (end + 1 < text.size() && text[end] == '.' && isDigit(text[end + 1])) {
        ++end;
        while (end < text.size() && isDigit(text[end]))
            ++end;
    }
    return std::string(text.substr(0, end));
}

std::optional<UpdateManifest> parseUpdateManifest(std::string_view body, bool preferEnglish) {
    if (body.size() > kMaxManifestBytes) {
        return std::nullopt;
    }
    const nlohmann::json root = nlohmann::json::parse(body, nullptr, false);
    if (!root.is_object()) {
        return std::nullopt;  // not JSON, or JSON whose top level is not an object
    }
    const auto text = [&](const char* member) -> std::optional<std::string> {
        const auto found = root.find(member);
        if (found == root.end() || !found->is_string()) {
            return std::nullopt;
        }
        return found->get<std::string>();
    };
    const auto version = leadingVersion(text("version").value_or(""));
    if (!version) {
        return std::nullopt;
    }
    UpdateManifest manifest;
    manifest.version = *version;
    if (preferEnglish) {
        manifest.changelog = text("changelog_en").value_or("");
        manifest.downloadURL = text("download_url_en").value_or(text("download_url").value_or(""));
    } else {
        manifest.changelog = text("changelog_zh").value_or(text("changelog_en").value_or(""));
        manifest.downloadURL = text("download_url").value_or("");
    }
    // The address comes from the network: only a web address is ever opened.
    if (!isWebAddress(manifest.downloadURL)) {
        manifest.downloadURL.clear();
    }
    return manifest;
}

}  // namespace dorvane
