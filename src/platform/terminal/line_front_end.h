#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/linux/event_loop.h"
#include "platform/terminal/front_end.h"
#include "platform/terminal/output_queue.h"

namespace dorvane {

// The front end for scripts and end-to-end tests: JSON Lines on standard output and input.
//   out: {"title":T} {"tooltip":T} {"menu":[ITEM...]} {"main_menu":[ITEM...]}
//        {"alert":{"title":T,"body":T,"buttons":[T...],"fields":[{"label":T,"text":T,"placeholder":T}...]}}
//        {"clipboard":T} {"open_url":U} {"activate":true} {"terminated":true} {"error":T}
//   ITEM: {"title":T,"enabled":B,"checked":B,"bold":B,"key":K,"submenu":[ITEM...]} or
//   {"separator":true} in:  {"choose":[PATH...]}  a path of menu indices or titles into the status
//   menu
//        {"answer":CODE,"fields":[T...]}  for the innermost open alert (CODE 1000 is its first
//        button)
//        {"key":K}  a main-menu key equivalent, such as "q"
class LineFrontEnd : public FrontEnd {
public:
    // Nothing waits for the reader of output: a newer title, tooltip or menu replaces one not yet
    // written, alerts, the clipboard and the last line are kept, and error lines are dropped
    // while much waits.
    LineFrontEnd(EventLoop& loop, int input, int output);

    std::unique_ptr<StatusItem> createStatusItem() override;
    AlertResponse runModal(const Alert& alert) override;
    void setString(const std::string& text) override;
    void start(std::function<void()> endOfInput) override;
    void activate() override;
    void setMainMenu(std::shared_ptr<const Menu> menu) override;
    void openURL(const std::string& url) override;
    void restore() override;

    // Takes one input line; public so that the protocol can be tested without a process.
    void handleLine(const std::string& line);
    void emit(std::string line, OutputQueue::Waiting waiting = OutputQueue::Waiting::Kept,
              const std::string& kind = {});
    // One error line, for an input the protocol cannot take or a start that goes no further.
    void reportError(const std::string& why);
    void setStatusMenu(std::shared_ptr<const Menu> menu) { statusMenu_ = std::move(menu); }

private:
    void readInput();

    struct OpenAlert {
        const Alert* alert;
        std::optional<AlertResponse> answer;
    };

    EventLoop& loop_;
    int input_;
    OutputQueue output_;
    EventLoop::WatchId inputWatch_ = 0;
    std::string pending_;
    // How much of pending_ is known to hold no line end.
    std::size_t scanned_ = 0;
    // An over-long line was answered with an error; the rest of it is dropped up to its end.
    bool skippingLongLine_ = false;
    std::function<void()> endOfInput_;
    std::shared_ptr<const Menu> statusMenu_;
    std::shared_ptr<const Menu> mainMenu_;
    std::vector<OpenAlert*> openAlerts_;
};

}  // namespace dorvane
