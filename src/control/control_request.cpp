#include "control/control_request.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace dorvane {
namespace {

using json = nlohmann::json;
using Verb = ControlRequest::Verb;

ControlRequest withVerb(Verb verb) {
    ControlRequest request;
    request.verb = verb;
    return request;
}

// The one string member of a request besides the verb, or absent when the object holds anything
// else: a request with a field we do not read is refused rather than half obeyed.
std::optional<std::string> soleText(const json& object, const char* key) {
    if (object.size() != 2 || !object.contains(key) || !object[key].is_string()) {
        return std::nullopt;
    }
    return object[key].get<std::string>();
}

ParsedControlRequest holdRequest(const json& object) {
    if (const auto off = soleText(object, "value")) {
        if (*off == "off") {
            return withVerb(Verb::HoldOff);
        }
    } else if (const auto duration = soleText(object, "for")) {
        if (const auto minutes = parseHoldDuration(*duration)) {
            ControlRequest request = withVerb(Verb::HoldFor);
            request.duration = *minutes;
            return request;
        }
        return "hold needs a duration such as 2h, 90m or 1h30m, of at most 24h";
    } else if (const auto until = soleText(object, "until")) {
        if (const auto time = parseTimeOfDay(*until)) {
            ControlRequest request = withVerb(Verb::HoldUntil);
            request.until = *time;
            return request;
        }
        return "hold until needs a time of day such as 07:30";
    }
    return "hold takes \"for\", \"until\" or \"value\":\"off\"";
}

ParsedControlRequest quietRequest(const json& object) {
    if (const auto off = soleText(object, "value"); off && *off == "off") {
        return withVerb(Verb::QuietOff);
    }
    if (object.size() == 3 && object.contains("start") && object.contains("end") &&
        object["start"].is_string() && object["end"].is_string()) {
        ControlRequest request = withVerb(Verb::QuietOn);
        request.start = object["start"].get<std::string>();
        request.end = object["end"].get<std::string>();
        return request;
    }
    return "quiet takes \"start\" and \"end\" as texts, or \"value\":\"off\"";
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// Undoes percent escapes; absent for a broken escape or an escaped control character.
std::optional<std::string> percentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size() || hexDigit(text[i + 1]) < 0 || hexDigit(text[i + 2]) < 0) {
            return std::nullopt;
        }
        const int value = hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]);
        if (value < 0x20) {
            return std::nullopt;
        }
        decoded += static_cast<char>(value);
        i += 2;
    }
    return decoded;
}

}  // namespace

std::optional<std::chrono::minutes> parseHoldDuration(std::string_view text) {
    std::chrono::minutes total{0};
    bool sawHours = false;
    bool sawMinutes = false;
    while (!text.empty()) {
        const std::size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
        if (digits == 0 || digits == text.size() || digits > 4) {
            return std::nullopt;
        }
        const auto number = parseDecimalDigits(text.substr(0, digits));
        const char unit = text[digits];
        // Hours come before minutes, each at most once: "30m2h" is more likely a slip than a wish.
        if (unit == 'h' && !sawHours && !sawMinutes) {
            sawHours = true;
            total += std::chrono::hours(*number);
        } else if (unit == 'm' && !sawMinutes) {
            sawMinutes = true;
            total += std::chrono::minutes(*number);
        } else {
            return std::nullopt;
        }
        text.remove_prefix(digits + 1);
    }
    if (total < std::chrono::minutes(1) || total > kMaximumHoldDuration) {
        return std::nullopt;
    }
    return total;
}

ParsedControlRequest parseControlRequest(std::string_view line) {
    if (line.size() > kMaximumControlLineLength) {
        return "the request line is too long";
    }
    if (line.find('\0') != std::string_view::npos) {
        return "the request holds a NUL byte";
    }
    const json object = json::parse(line, nullptr, false);
    if (object.is_discarded()) {
        return "the request is not valid JSON";
    }
    if (!object.is_object() || !object.contains("verb") || !object["verb"].is_string()) {
        return "the request needs a \"verb\" text";
    }
    const std::string verb = object["verb"].get<std::string>();
    if (verb == "status" || verb == "refresh") {
        if (object.size() != 1) {
            return verb + " takes no arguments";
        }
        return withVerb(verb == "status" ? Verb::Status : Verb::Refresh);
    }
    if (verb == "mode") {
        if (object.size() != 2 || !object.contains("value") ||
            !object["value"].is_number_integer() ||
            (object["value"] != 0 && object["value"] != 1)) {
            return "mode takes \"value\": 0 or 1";
        }
        ControlRequest request = withVerb(Verb::Mode);
        request.mode = object["value"].get<std::int64_t>();
        return request;
    }
    if (verb == "quiet") {
        return quietRequest(object);
    }
    if (verb == "hold") {
        return holdRequest(object);
    }
    return "unknown verb";
}

std::string requestLine(const ControlRequest& request) {
    json object;
    switch (request.verb) {
        case Verb::Status:
            object = {{"verb", "status"}};
            break;
        case Verb::Refresh:
            object = {{"verb", "refresh"}};
            break;
        case Verb::Mode:
            object = {{"verb", "mode"}, {"value", request.mode}};
            break;
        case Verb::QuietOff:
            object = {{"verb", "quiet"}, {"value", "off"}};
            break;
        case Verb::QuietOn:
            object = {{"verb", "quiet"}, {"start", request.start}, {"end", request.end}};
            break;
        case Verb::HoldFor:
            object = {{"verb", "hold"}, {"for", std::to_string(request.duration.count()) + "m"}};
            break;
        case Verb::HoldUntil: {
            char time[8];
            std::snprintf(time, sizeof time, "%02d:%02d", static_cast<int>(request.until.hour),
                          static_cast<int>(request.until.minute));
            object = {{"verb", "hold"}, {"until", time}};
            break;
        }
        case Verb::HoldOff:
            object = {{"verb", "hold"}, {"value", "off"}};
            break;
    }
    return object.dump();
}

ParsedControlRequest requestForArguments(const std::vector<std::string>& arguments) {
    const auto is = [&](std::initializer_list<const char*> words) {
        return arguments.size() == words.size() &&
               std::equal(words.begin(), words.end(), arguments.begin(),
                          [](const char* word, const std::string& argument) {
                              return word == nullptr || argument == word;
                          });
    };
    json object;
    if (is({"status"}) || is({"status", "--json"})) {
        object = {{"verb", "status"}};
    } else if (is({"refresh"})) {
        object = {{"verb", "refresh"}};
    } else if (is({"mode", "0"}) || is({"mode", "1"})) {
        object = {{"verb", "mode"}, {"value", arguments[1] == "1" ? 1 : 0}};
    } else if (is({"quiet", "off"}) || is({"hold", "off"})) {
        object = {{"verb", arguments[0]}, {"value", "off"}};
    } else if (is({"quiet", nullptr, nullptr})) {
        object = {{"verb", "quiet"}, {"start", arguments[1]}, {"end", arguments[2]}};
    } else if (is({"hold", "until", nullptr})) {
        object = {{"verb", "hold"}, {"until", arguments[2]}};
    } else if (is({"hold", "for", nullptr}) || is({"hold", nullptr})) {
        object = {{"verb", "hold"}, {"for", arguments.back()}};
    } else {
        return "usage: dorvane status [--json] | mode 0|1 | hold 2h|90m|until 07:30|off | "
               "quiet 23:00 07:00|off | refresh | diagnose";
    }
    return parseControlRequest(object.dump());
}

std::optional<ControlRequest> parseControlUrl(std::string_view url) {
    constexpr std::string_view kScheme = "dorvane://";
    if (url.size() < kScheme.size() ||
        !std::equal(kScheme.begin(), kScheme.end(), url.begin(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        })) {
        return std::nullopt;
    }
    url.remove_prefix(kScheme.size());
    const std::size_t question = url.find('?');
    std::string_view verb = url.substr(0, question);
    const std::string_view query =
        question == std::string_view::npos ? std::string_view() : url.substr(question + 1);
    if (verb.ends_with('/')) {
        verb.remove_suffix(1);
    }
    const std::size_t equals = query.find('=');
    const std::string_view key = query.substr(0, equals);
    const auto value = percentDecoded(equals == std::string_view::npos ? std::string_view()
                                                                       : query.substr(equals + 1));
    if (!value) {
        return std::nullopt;
    }
    json object;
    if (verb == "refresh" && query.empty()) {
        object = {{"verb", "refresh"}};
    } else if (verb == "mode" && key == "value" && (*value == "0" || *value == "1")) {
        object = {{"verb", "mode"}, {"value", *value == "1" ? 1 : 0}};
    } else if (verb == "hold" && (query == "off" || (key == "value" && *value == "off"))) {
        object = {{"verb", "hold"}, {"value", "off"}};
    } else if (verb == "hold" && (key == "for" || key == "until") && !value->empty()) {
        object = {{"verb", "hold"}, {std::string(key), *value}};
    } else {
        return std::nullopt;
    }
    const auto parsed = parseControlRequest(object.dump());
    if (const auto* request = std::get_if<ControlRequest>(&parsed)) {
        return *request;
    }
    return std::nullopt;
}

bool addressMayAsk(const ControlRequest& request, bool quietHoursEnabled) {
    return request.verb != Verb::Mode || !quietHoursEnabled;
}

}  // namespace dorvane
