#include "platform/terminal/line_front_end.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <nlohmann/json.hpp>

namespace dorvane {
namespace {

using json = nlohmann::ordered_json;

// A line longer than this is no message of the protocol; it is answered with one error.
constexpr std::size_t kMaximumLineLength = 1 << 20;
// How long the last lines may wait for their reader as the application ends.
constexpr std::chrono::milliseconds kExitPatience{1000};

// One output line. Texts that are not valid UTF-8 are written with replacement characters
// instead of ending the application.
std::string asLine(const json& message) {
    return message.dump(-1, ' ', false, json::error_handler_t::replace);
}

json describeMenu(const Menu& menu) {
    json items = json::array();
    for (const MenuItem& item : menu.items) {
        if (item.separator) {
            items.push_back({{"separator", true}});
            continue;
        }
        json described = {{"title", item.title},
                          {"enabled", item.enabled},
                          {"checked", item.checked},
                          {"bold", item.bold},
                          {"key", item.keyEquivalent}};
        if (item.submenu) {
            described["submenu"] = describeMenu(*item.submenu);
        }
        items.push_back(std::move(described));
    }
    return items;
}

// Editable fields, each with the label that stands before it in the view.
json describeFields(const AccessoryView& view) {
    json fields = json::array();
    std::string label;
    for (const TextField& field : view.fields) {
        if (!field.editable) {
            label = field.text;
            continue;
        }
        fields.push_back(
            {{"label", label}, {"text", field.text}, {"placeholder", field.placeholder}});
        label.clear();
    }
    return fields;
}

class LineStatusItem : public StatusItem {
public:
    explicit LineStatusItem(LineFrontEnd& frontEnd) : frontEnd_(frontEnd) {}
    void setTitle(const std::string& title) override {
        frontEnd_.emit(asLine(json{{"title", title}}), OutputQueue::Waiting::Replaced, "title");
    }
    void setToolTip(const std::string& toolTip) override {
        frontEnd_.emit(asLine(json{{"tooltip", toolTip}}), OutputQueue::Waiting::Replaced,
                       "tooltip");
    }
    void setMenu(std::shared_ptr<const Menu> menu) override {
        frontEnd_.emit(asLine(json{{"menu", describeMenu(*menu)}}), OutputQueue::Waiting::Replaced,
                       "menu");
        frontEnd_.setStatusMenu(std::move(menu));
    }

private:
    LineFrontEnd& frontEnd_;
};

}  // namespace

LineFrontEnd::LineFrontEnd(EventLoop& loop, int input, int output)
    : loop_(loop), input_(input), output_(loop, output) {}

std::unique_ptr<StatusItem> LineFrontEnd::createStatusItem() {
    return std::make_unique<LineStatusItem>(*this);
}

void LineFrontEnd::emit(std::string line, OutputQueue::Waiting waiting, const std::string& kind) {
    line += '\n';
    output_.send(std::move(line), waiting, kind);
}

void LineFrontEnd::reportError(const std::string& why) {
    emit(asLine(json{{"error", why}}), OutputQueue::Waiting::Droppable);
}

AlertResponse LineFrontEnd::runModal(const Alert& alert) {
    emit(asLine(json{{"alert",
                      {{"title", alert.messageText},
                       {"body", alert.informativeText},
                       {"buttons", alert.buttons},
                       {"fields", describeFields(alert.accessory)}}}}));
    OpenAlert open{&alert, std::nullopt};
    openAlerts_.push_back(&open);
    loop_.runModal([&] { return open.answer.has_value(); });
    openAlerts_.pop_back();
    if (!open.answer) {
        return {kAlertSecondButtonReturn, {}};  // the loop was stopped with the alert open
    }
    // The answer names the editable fields; the response lists every field, labels included.
    AlertResponse response{open.answer->code, {}};
    std::size_t next = 0;
    for (const TextField& field : alert.accessory.fields) {
        const bool answered = field.editable && next < open.answer->fieldTexts.size();
        response.fieldTexts.push_back(answered ? open.answer->fieldTexts[next] : field.text);
        next += field.editable ? 1 : 0;
    }
    return response;
}

void LineFrontEnd::setString(const std::string& text) {
    emit(asLine(json{{"clipboard", text}}));
}

void LineFrontEnd::activate() {
    emit(asLine(json{{"activate", true}}), OutputQueue::Waiting::Replaced, "activate");
}

void LineFrontEnd::setMainMenu(std::shared_ptr<const Menu> menu) {
    emit(asLine(json{{"main_menu", describeMenu(*menu)}}), OutputQueue::Waiting::Replaced,
         "main_menu");
    mainMenu_ = std::move(menu);
}

void LineFrontEnd::openURL(const std::string& url) {
    emit(asLine(json{{"open_url", url}}));
}

void LineFrontEnd::restore() {
    emit(asLine(json{{"terminated", true}}));
    output_.finish(kExitPatience);
}

void LineFrontEnd::start(std::function<void()> endOfInput) {
    endOfInput_ = std::move(endOfInput);
    inputWatch_ = loop_.watch(input_, [this] { readInput(); });
}

void LineFrontEnd::readInput() {
    std::array<char, 4096> buffer;
    const ssize_t count = ::read(input_, buffer.data(), buffer.size());
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (count <= 0) {
        // The end of the input ends the application as a system termination does.
        loop_.unwatch(inputWatch_);
        if (endOfInput_) {
            endOfInput_();
        }
        return;
    }
    pending_.append(buffer.data(), static_cast<std::size_t>(count));
    // Only the new bytes are searched for a line end, so a long line costs its length once. Each
    // line leaves pending_ before it is handled: handling it may open an alert, whose answer is
    // read by a nested call.
    std::size_t end = 0;
    while ((end = pending_.find('\n', scanned_)) != std::string::npos) {
        const std::string text = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        scanned_ = 0;
        if (skippingLongLine_) {
            skippingLongLine_ = false;
        } else if (text.size() > kMaximumLineLength) {
            // Its end came in the same read as the bytes that took it past the bound.
            reportError("line too long");
        } else if (!text.empty()) {
            handleLine(text);
        }
    }
    scanned_ = pending_.size();
    if (pending_.size() > kMaximumLineLength) {
        if (!skippingLongLine_) {
            reportError("line too long");
            skippingLongLine_ = true;
        }
        pending_.clear();
        scanned_ = 0;
    }
}

void LineFrontEnd::handleLine(const std::string& line) {
    const auto fail = [this](const std::string& why) { reportError(why); };
    const json message = json::parse(line, nullptr, false);
    if (!message.is_object() || message.size() == 0) {
        fail("not a JSON object");
        return;
    }
    if (const auto answer = message.find("answer"); answer != message.end()) {
        if (openAlerts_.empty()) {
            fail("no alert is open");
            return;
        }
        const Alert& alert = *openAlerts_.back()->alert;
        const auto buttons = static_cast<std::int64_t>(alert.buttons.size());
        if (!answer->is_number_integer() || answer->get<std::int64_t>() < kAlertFirstButtonReturn ||
            answer->get<std::int64_t>() >= kAlertFirstButtonReturn + buttons) {
            fail(
                "answer takes the response code of one of the alert's buttons, 1000 for the "
                "first");
            return;
        }
        AlertResponse response{static_cast<int>(answer->get<std::int64_t>()), {}};
        if (const auto fields = message.find("fields"); fields != message.end()) {
            const auto editable =
                std::count_if(alert.accessory.fields.begin(), alert.accessory.fields.end(),
                              [](const TextField& field) { return field.editable; });
            if (!fields->is_array() ||
                !std::all_of(fields->begin(), fields->end(),
                             [](const json& f) { return f.is_string(); }) ||
                static_cast<std::ptrdiff_t>(fields->size()) != editable) {
                fail("fields takes one text for each of the alert's editable fields");
                return;
            }
            response.fieldTexts = fields->get<std::vector<std::string>>();
        }
        openAlerts_.back()->answer = std::move(response);
        return;
    }
    if (const auto key = message.find("key"); key != message.end()) {
        const MenuItem* item = key->is_string() && mainMenu_
                                   ? findKeyEquivalent(*mainMenu_, key->get<std::string>())
                                   : nullptr;
        if (item == nullptr || !item->action) {
            fail("no main-menu command has that key");
            return;
        }
        // Main-menu keys work with an alert open too, as they do in a dialog on the Mac: the
        // command runs inside the alert's modal loop.
        const MenuItem chosen = *item;
        chosen.action(chosen);
        return;
    }
    if (const auto path = message.find("choose"); path != message.end()) {
        if (!openAlerts_.empty()) {
            fail("an alert is open");
            return;
        }
        // Only a flat list of indices and titles is a path; anything else is refused before
        // it is looked at further.
        if (!path->is_array() || path->empty() || !statusMenu_ ||
            !std::all_of(path->begin(), path->end(), [](const json& step) {
                return step.is_string() || step.is_number_integer();
            })) {
            fail("choose takes a path of menu indices or titles");
            return;
        }
        const Menu* menu = statusMenu_.get();
        const MenuItem* item = nullptr;
        for (std::size_t depth = 0; depth < path->size(); ++depth) {
            const json& step = (*path)[depth];
            if (menu == nullptr) {
                fail("the path goes past a row without a submenu");
                return;
            }
            item = nullptr;
            if (step.is_number_unsigned() && step.get<std::size_t>() < menu->items.size()) {
                item = &menu->items[step.get<std::size_t>()];
            } else if (step.is_string()) {
                for (const MenuItem& candidate : menu->items) {
                    if (!candidate.separator && candidate.title == step.get<std::string>()) {
                        item = &candidate;
                        break;
                    }
                }
            }
            if (item == nullptr || item->separator || !item->enabled) {
                fail("no enabled row at step " + std::to_string(depth + 1) + " of the path");
                return;
            }
            menu = item->submenu.get();
        }
        if (!item->action) {
            fail("that row does nothing");
            return;
        }
        // Menu commands are delivered on the main queue.
        loop_.post([chosen = *item] { chosen.action(chosen); });
        return;
    }
    fail("unknown message");
}

}  // namespace dorvane
