#include "platform/terminal/terminal_front_end.h"

#include <curses.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <optional>

#include "base/run_command.h"
#include "base/unique_fd.h"
#include "platform/linux/signal_watch.h"
#include "platform/terminal/output_queue.h"
#include "sim_state.h"

namespace dorvane {
namespace {

constexpr wint_t kEscape = 27;
constexpr wint_t kTab = 9;
// How long the last screen output may wait for the terminal at the end.
constexpr std::chrono::milliseconds kExitPatience{500};

// The terminal's own modes, given back however the front end ends, the termination signals
// included (they arrive on the main loop and end through the exit steps, which restore).
class HeldModes {
public:
    HeldModes(int fd, const termios& modes) : fd_(fd) {
        termios saved{};
        if (::tcgetattr(fd, &saved) == 0) {
            saved_ = saved;
            // Applied at once: waiting for the output to drain would wait on a terminal that
            // stopped reading.
            ::tcsetattr(fd, TCSANOW, &modes);
        }
    }
    ~HeldModes() {
        if (saved_) {
            ::tcsetattr(fd_, TCSANOW, &*saved_);
        }
    }
    HeldModes(const HeldModes&) = delete;
    HeldModes& operator=(const HeldModes&) = delete;

private:
    int fd_;
    std::optional<termios> saved_;
};

// A pseudo-terminal of the front end's own, the screen library's output, with the real
// terminal's modes and size: the library writes to it with blocking writes it retries, and only
// the main loop moves that on to the real terminal, without blocking.
struct PrivateTerminal {
    UniqueFd controller;  // the reading end, non-blocking
    UniqueFd terminal;    // the screen library's end
};

std::optional<PrivateTerminal> openPrivateTerminal(const termios& modes, const winsize& size) {
    PrivateTerminal opened{UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)), {}};
    char name[128];
    if (!opened.controller.valid() || ::grantpt(opened.controller.get()) != 0 ||
        ::unlockpt(opened.controller.get()) != 0 ||
        ::ptsname_r(opened.controller.get(), name, sizeof name) != 0) {
        return std::nullopt;
    }
    opened.terminal.reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    const int flags = ::fcntl(opened.controller.get(), F_GETFL);
    if (!opened.terminal.valid() || flags < 0 ||
        ::fcntl(opened.controller.get(), F_SETFL, flags | O_NONBLOCK) != 0 ||
        ::tcsetattr(opened.terminal.get(), TCSANOW, &modes) != 0) {
        return std::nullopt;
    }
    ::ioctl(opened.controller.get(), TIOCSWINSZ, &size);
    return opened;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
struct ScreenDeleter {
    void operator()(SCREEN* screen) const { delscreen(screen); }
};

std::wstring widen(const std::string& text) {
    std::wstring wide;
    std::mbstate_t state{};
    const char* cursor = text.c_str();
    const char* end = cursor + text.size();
    while (cursor < end) {
        wchar_t character = 0;
        const std::size_t length =
            std::mbrtowc(&character, cursor, static_cast<std::size_t>(end - cursor), &state);
        if (length == static_cast<std::size_t>(-1) || length == static_cast<std::size_t>(-2)) {
            wide += L'?';
            state = {};
            ++cursor;
            continue;
        }
        wide += character;
        cursor += std::max<std::size_t>(length, 1);
    }
    return wide;
}

std::string narrow(const std::wstring& wide) {
    std::string text;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (const wchar_t character : wide) {
        const std::size_t length = std::wcrtomb(buffer, character, &state);
        if (length != static_cast<std::size_t>(-1)) {
            text.append(buffer, length);
        }
    }
    return text;
}

int columns(const std::wstring& text) {
    const int width = ::wcswidth(text.c_str(), text.size());
    return width < 0 ? static_cast<int>(text.size()) : width;
}

void put(int row, int column, const std::wstring& text, attr_t attributes = A_NORMAL) {
    attron(attributes);
    mvaddnwstr(row, column, text.c_str(), static_cast<int>(text.size()));
    attroff(attributes);
}

// Breaks text into lines of at most width columns, at blanks where it can.
std::vector<std::wstring> wrap(const std::wstring& text, int width) {
    std::vector<std::wstring> lines;
    std::wstring line;
    for (const wchar_t character : text) {
        if (character == L'\n') {
            lines.push_back(line);
            line.clear();
            continue;
        }
        line += character;
        if (columns(line) > width) {
            const std::size_t blank = line.rfind(L' ');
            const std::size_t cut =
                blank != std::wstring::npos && blank > 0 ? blank : line.size() - 1;
            lines.push_back(line.substr(0, cut));
            line = line.substr(cut + (blank == cut ? 1 : 0));
        }
    }
    lines.push_back(line);
    return lines;
}

std::string base64(const std::string& bytes) {
    static const char* const digits =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t left = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t chunk = 0;
        for (std::size_t k = 0; k < 3; ++k) {
            chunk = (chunk << 8) | (k < left ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        }
        for (std::size_t k = 0; k < 4; ++k) {
            encoded += k <= left ? digits[(chunk >> (18 - 6 * k)) & 0x3F] : '=';
        }
    }
    return encoded;
}

class TerminalFrontEnd;

class TerminalStatusItem : public StatusItem {
public:
    explicit TerminalStatusItem(TerminalFrontEnd& frontEnd) : frontEnd_(frontEnd) {}
    void setTitle(const std::string& title) override;
    void setToolTip(const std::string& toolTip) override;
    void setMenu(std::shared_ptr<const Menu> menu) override;

private:
    TerminalFrontEnd& frontEnd_;
};

// One alert on screen: the texts of its fields as they are being edited, and where the focus is.
struct OpenAlert {
    const Alert* alert = nullptr;
    std::vector<std::wstring> texts;
    std::vector<std::size_t> editable;  // indices of the editable fields, in order
    std::size_t focus = 0;              // over the editable fields, then the buttons
    std::size_t cursor = 0;
    bool allSelected = false;
    std::optional<int> answer;

    std::size_t focusCount() const { return editable.size() + alert->buttons.size(); }
    bool focusOnField() const { return focus < editable.size(); }
    std::wstring& field() { return texts[editable[focus]]; }
};

class TerminalFrontEnd : public FrontEnd {
public:
    TerminalFrontEnd(EventLoop& loop, const InstallLayout& layout, std::string statePath)
        : loop_(loop),
          simControl_(layout.prefix + "/bin/dorvane-sim"),
          statePath_(std::move(statePath)) {}
    ~TerminalFrontEnd() override { restore(); }

    std::unique_ptr<StatusItem> createStatusItem() override {
        return std::make_unique<TerminalStatusItem>(*this);
    }
    AlertResponse runModal(const Alert& alert) override;
    void setString(const std::string& text) override;
    void start(std::function<void()> endOfInput) override;
    void activate() override { redraw(); }
    void setMainMenu(std::shared_ptr<const Menu> menu) override { mainMenu_ = std::move(menu); }
    void openURL(const std::string& url) override;
    void restore() override;

    void setTitle(const std::string& title) {
        title_ = widen(title);
        redraw();
    }
    void setToolTip(const std::string& toolTip) { toolTip_ = widen(toolTip); }
    void setMenu(std::shared_ptr<const Menu> menu) {
        menu_ = std::move(menu);
        menuPath_ = highlightForNewMenu(menuPath_, menu_.get());
        redraw();
    }

private:
    void onInput();
    void onKey(wint_t key, bool functionKey);
    bool onAlertKey(OpenAlert& open, wint_t key, bool functionKey);
    bool onMenuKey(wint_t key, bool functionKey);
    void onPanelKey(wint_t key);
    bool runKeyEquivalent(char letter);
    void edit(OpenAlert& open, ResponderAction action);
    void choose(const MenuItem& item);
    const Menu* menuAtDepth(std::size_t depth) const;
    void moveSelection(int step);
    void redraw();
    void drawBar();
    void drawPanel();
    void drawMenus();
    void drawAlert(OpenAlert& open);
    void onResize();
    std::string openScreen();
    void relay(bool keep);
    void onTerminalDrained();

    EventLoop& loop_;
    std::string simControl_;
    std::string statePath_;
    bool started_ = false;
    std::function<void()> endOfInput_;
    // In the order they are made; restore() gives them back in reverse.
    UniqueFd controller_;
    std::unique_ptr<std::FILE, FileCloser> screenOutput_;
    std::unique_ptr<SCREEN, ScreenDeleter> screen_;
    std::optional<HeldModes> modes_;
    std::unique_ptr<OutputQueue> output_;
    // Screen output was dropped while the terminal was not reading: it is drawn whole once the
    // terminal has taken what waits.
    bool redrawOwed_ = false;
    EventLoop::WatchId inputWatch_ = 0;
    EventLoop::WatchId screenWatch_ = 0;
    std::unique_ptr<SignalWatch> resizeWatch_;
    std::wstring title_;
    std::wstring toolTip_;
    std::wstring notice_;
    std::shared_ptr<const Menu> menu_;
    std::shared_ptr<const Menu> mainMenu_;
    std::vector<std::size_t> menuPath_;  // the highlighted row at each open level; empty: closed
    std::vector<OpenAlert*> alerts_;
    std::string pasteboard_;
};

void TerminalStatusItem::setTitle(const std::string& title) {
    frontEnd_.setTitle(title);
}
void TerminalStatusItem::setToolTip(const std::string& toolTip) {
    frontEnd_.setToolTip(toolTip);
}
void TerminalStatusItem::setMenu(std::shared_ptr<const Menu> menu) {
    frontEnd_.setMenu(std::move(menu));
}

void TerminalFrontEnd::start(std::function<void()> endOfInput) {
    endOfInput_ = std::move(endOfInput);
    if (const std::string failure = openScreen(); !failure.empty()) {
        // Without a screen there is no way to run the application: it ends as on a termination.
        std::fprintf(stderr, "Dorvane: cannot draw on this terminal: %s.\n", failure.c_str());
        loop_.post([this] {
            if (endOfInput_) {
                endOfInput_();
            }
        });
        return;
    }
    raw();  // Ctrl+C, Ctrl+Q and the rest arrive as keys
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    mousemask(BUTTON1_CLICKED | BUTTON1_PRESSED, nullptr);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    // The real terminal takes the modes the library gave its own, output modes included: the
    // library moves the cursor counting on them.
    if (termios drawing{}; ::tcgetattr(fileno(screenOutput_.get()), &drawing) == 0) {
        modes_.emplace(STDOUT_FILENO, drawing);
    }
    output_ = std::make_unique<OutputQueue>(loop_, STDOUT_FILENO);
    output_->setDrained([this] { onTerminalDrained(); });
    started_ = true;
    screenWatch_ = loop_.watch(controller_.get(), [this] { relay(false); });
    inputWatch_ = loop_.watch(STDIN_FILENO, [this] { onInput(); });
    resizeWatch_ = std::make_unique<SignalWatch>(loop_, std::initializer_list<int>{SIGWINCH},
                                                 [this](int) { onResize(); });
    redraw();
}

// Empty once the screen is open, else why it is not.
std::string TerminalFrontEnd::openScreen() {
    termios modes{};
    winsize size{};
    std::optional<PrivateTerminal> terminal;
    if (::tcgetattr(STDOUT_FILENO, &modes) != 0 || ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 ||
        !(terminal = openPrivateTerminal(modes, size))) {
        return std::strerror(errno);
    }
    controller_ = std::move(terminal->controller);
    screenOutput_.reset(::fdopen(terminal->terminal.get(), "w"));
    if (!screenOutput_) {
        return std::strerror(errno);
    }
    terminal->terminal.release();  // the stream owns it now
    std::setlocale(LC_CTYPE, "");
    screen_.reset(newterm(nullptr, screenOutput_.get(), stdin));
    return screen_ ? "" : "its type, in TERM, has no description here";
}

// Moves what the library wrote on to the terminal. While earlier output still waits for the
// terminal, an update is dropped, since it changes a screen the terminal has not shown yet, and
// the whole screen is drawn once the terminal has taken what waits; so what waits stays within
// one screen and the end's output.
void TerminalFrontEnd::relay(bool keep) {
    std::string bytes;
    char chunk[4096];
    for (;;) {
        const ssize_t count = ::read(controller_.get(), chunk, sizeof chunk);
        if (count > 0) {
            bytes.append(chunk, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    if (bytes.empty()) {
        return;
    }
    if (keep || (output_->idle() && !redrawOwed_)) {
        output_->send(std::move(bytes), OutputQueue::Waiting::Kept);
    } else {
        redrawOwed_ = true;
    }
}

void TerminalFrontEnd::onTerminalDrained() {
    if (redrawOwed_ && started_) {
        redrawOwed_ = false;
        clearok(curscr, TRUE);
        redraw();
    }
}

void TerminalFrontEnd::restore() {
    if (!started_) {
        return;
    }
    started_ = false;
    resizeWatch_.reset();
    loop_.unwatch(inputWatch_);
    loop_.unwatch(screenWatch_);
    curs_set(1);
    endwin();
    relay(true);  // the terminal's own modes and screen come back whatever waits before them
    output_->finish(kExitPatience);
    output_.reset();
    modes_.reset();
    screen_.reset();
    screenOutput_.reset();
    controller_.reset();
}

void TerminalFrontEnd::onResize() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0) {
        ::ioctl(controller_.get(), TIOCSWINSZ, &size);
        resizeterm(size.ws_row, size.ws_col);
    }
    redraw();
}

AlertResponse TerminalFrontEnd::runModal(const Alert& alert) {
    OpenAlert open;
    open.alert = &alert;
    for (std::size_t i = 0; i < alert.accessory.fields.size(); ++i) {
        open.texts.push_back(widen(alert.accessory.fields[i].text));
        if (alert.accessory.fields[i].editable) {
            if (static_cast<int>(i) == alert.accessory.initialFirstResponder) {
                open.focus = open.editable.size();
            }
            open.editable.push_back(i);
        }
    }
    if (alert.accessory.initialFirstResponder < 0) {
        open.focus = open.editable.size();  // the first button
    }
    if (open.focusOnField()) {
        open.cursor = open.field().size();
    }
    menuPath_.clear();
    alerts_.push_back(&open);
    redraw();
    loop_.runModal([&] { return open.answer.has_value(); });
    alerts_.pop_back();
    redraw();
    AlertResponse response{open.answer.value_or(kAlertSecondButtonReturn), {}};
    for (const std::wstring& text : open.texts) {
        response.fieldTexts.push_back(narrow(text));
    }
    return response;
}

void TerminalFrontEnd::setString(const std::string& text) {
    pasteboard_ = text;
    // The terminal's own clipboard, through OSC 52; terminals that do not know it ignore it.
    if (output_) {
        output_->send("\033]52;c;" + base64(text) + "\a", OutputQueue::Waiting::Droppable);
    }
    notice_ = L"Copied to the clipboard.";
    redraw();
}

void TerminalFrontEnd::openURL(const std::string& url) {
    const std::string opener = "/usr/bin/xdg-open";
    if (std::filesystem::exists(opener) && TRBRunCommand(opener, {url}).status == 0) {
        notice_ = widen("Opened " + url);
    } else {
        notice_ = widen("Open this address in a browser: " + url);
    }
    redraw();
}

void TerminalFrontEnd::onInput() {
    wint_t key = 0;
    int kind = 0;
    bool anyKey = false;
    while ((kind = get_wch(&key)) != ERR) {
        anyKey = true;
        onKey(key, kind == KEY_CODE_YES);
        if (!started_) {
            return;
        }
    }
    // Readable with nothing to read: the terminal has gone. Without this, a closed terminal
    // would wake the loop for ever.
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (!anyKey && ::poll(&input, 1, 0) == 1 &&
        (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && endOfInput_) {
        endOfInput_();
    }
}

void TerminalFrontEnd::onKey(wint_t key, bool functionKey) {
    if (functionKey && key == KEY_RESIZE) {
        // The library's note of a size already taken: taking it again would note it again.
        redraw();
        return;
    }
    notice_.clear();
    if (!alerts_.empty()) {
        if (!onAlertKey(*alerts_.back(), key, functionKey)) {
            beep();
        }
        redraw();
        return;
    }
    if (!functionKey && key >= 1 && key <= 26 && key != kTab && key != 13 && key != 10) {
        const char letter = static_cast<char>('a' + key - 1);
        if (letter == 'c') {
            // Ctrl+C outside a text field ends the application as the system would.
            if (endOfInput_) {
                endOfInput_();
            }
            return;
        }
        runKeyEquivalent(letter);
        redraw();
        return;
    }
    if (!menuPath_.empty() ? onMenuKey(key, functionKey) : false) {
        redraw();
        return;
    }
    if (menuPath_.empty()) {
        if (functionKey && key == KEY_MOUSE) {
            MEVENT event{};
            if (getmouse(&event) == OK && event.y == 0 && event.x >= COLS - columns(title_) - 2) {
                menuPath_ = {0};
                moveSelection(0);
            }
        } else if (!functionKey && (key == L'\r' || key == L'\n' || key == L' ')) {
            menuPath_ = {0};
            moveSelection(0);
        } else if (!functionKey) {
            onPanelKey(key);
        }
    }
    redraw();
}

bool TerminalFrontEnd::runKeyEquivalent(char letter) {
    const std::string key(1, letter);
    for (const auto& menu : {mainMenu_, menu_}) {
        if (const MenuItem* item = menu ? findKeyEquivalent(*menu, key) : nullptr;
            item && item->action) {
            choose(*item);
            return true;
        }
    }
    return false;
}

void TerminalFrontEnd::choose(const MenuItem& item) {
    menuPath_.clear();
    // Menu commands are delivered on the main queue.
    loop_.post([chosen = item] { chosen.action(chosen); });
}

const Menu* TerminalFrontEnd::menuAtDepth(std::size_t depth) const {
    const Menu* menu = menu_.get();
    for (std::size_t level = 0; level < depth && menu != nullptr; ++level) {
        menu = menu->items[menuPath_[level]].submenu.get();
    }
    return menu;
}

void TerminalFrontEnd::moveSelection(int step) {
    const Menu* menu = menuAtDepth(menuPath_.size() - 1);
    if (menu == nullptr || menu->items.empty()) {
        return;
    }
    const int count = static_cast<int>(menu->items.size());
    int index = static_cast<int>(menuPath_.back());
    const int direction = step < 0 ? -1 : 1;
    for (int tries = 0; tries < count; ++tries) {
        if (step != 0 || tries > 0) {
            index = (index + direction + count) % count;
        }
        if (!menu->items[static_cast<std::size_t>(index)].separator) {
            break;
        }
    }
    menuPath_.back() = static_cast<std::size_t>(index);
}

bool TerminalFrontEnd::onMenuKey(wint_t key, bool functionKey) {
    const Menu* menu = menuAtDepth(menuPath_.size() - 1);
    const MenuItem& item = menu->items[menuPath_.back()];
    const bool enter = !functionKey && (key == L'\r' || key == L'\n' || key == L' ');
    if (functionKey && key == KEY_UP) {
        moveSelection(-1);
    } else if (functionKey && key == KEY_DOWN) {
        moveSelection(1);
    } else if ((enter || (functionKey && key == KEY_LEFT)) && item.submenu && item.enabled) {
        menuPath_.push_back(0);
        moveSelection(0);
    } else if (enter) {
        if (item.enabled && item.action) {
            choose(item);
        }
    } else if ((functionKey && key == KEY_RIGHT) || (!functionKey && key == kEscape)) {
        menuPath_.pop_back();
    } else {
        return false;
    }
    return true;
}

void TerminalFrontEnd::onPanelKey(wint_t key) {
    std::optional<sim::State> state = sim::StateFile(statePath_).read(nullptr);
    if (!state) {
        return;
    }
    std::vector<std::string> verb;
    switch (key) {
        case L'a':
            verb = {"power", state->power == sim::Power::AC ? "battery" : "ac"};
            break;
        case L'l':
            verb = {"lid", state->lid == sim::Lid::Closed ? "open" : "closed"};
            break;
        case L'p':
            verb = {"privilege", state->privilegeInstalled ? "revoke" : "grant"};
            break;
        case L'w':
            verb = {"wake"};
            break;
        case L'b':
            verb = {"power", state->power == sim::Power::AC ? "ac" : "battery",
                    std::to_string(state->batteryPercent >= 10 ? state->batteryPercent - 10 : 100)};
            break;
        default:
            return;
    }
    const TRBCommandResult result = TRBRunCommand(simControl_, verb);
    if (result.status != 0) {
        notice_ = widen("dorvane-sim: " + result.error);
    }
}

bool TerminalFrontEnd::onAlertKey(OpenAlert& open, wint_t key, bool functionKey) {
    const std::size_t count = open.focusCount();
    const auto moveFocus = [&](int step) {
        open.focus =
            (open.focus + count + static_cast<std::size_t>(step + static_cast<int>(count))) % count;
        open.allSelected = false;
        if (open.focusOnField()) {
            open.cursor = open.field().size();
        }
    };
    if (!functionKey && key >= 1 && key <= 26 && key != kTab && key != 13 && key != 10) {
        // Key equivalents go through the main menu: editing reaches the focused field, and quit
        // runs at once, inside the alert, as it does in a dialog on the Mac.
        const char letter = static_cast<char>('a' + key - 1);
        const MenuItem* item =
            mainMenu_ ? findKeyEquivalent(*mainMenu_, std::string(1, letter)) : nullptr;
        if (item != nullptr && item->responderAction != ResponderAction::None &&
            open.focusOnField()) {
            edit(open, item->responderAction);
            return true;
        }
        if (item != nullptr && item->action) {
            const MenuItem chosen = *item;
            chosen.action(chosen);
            return true;
        }
        return false;
    }
    if (!functionKey && key == kTab) {
        moveFocus(1);
    } else if (functionKey && key == KEY_BTAB) {
        moveFocus(-1);
    } else if (functionKey && (key == KEY_UP || key == KEY_DOWN)) {
        moveFocus(key == KEY_UP ? -1 : 1);
    } else if (!functionKey && (key == L'\r' || key == L'\n')) {
        // Enter presses the focused button, or the first, the default, from a field.
        open.answer = kAlertFirstButtonReturn +
                      static_cast<int>(open.focusOnField() ? 0 : open.focus - open.editable.size());
    } else if (!open.focusOnField()) {
        if (functionKey && (key == KEY_LEFT || key == KEY_RIGHT)) {
            moveFocus(key == KEY_LEFT ? -1 : 1);
        } else if (!functionKey && key == L' ') {
            open.answer =
                kAlertFirstButtonReturn + static_cast<int>(open.focus - open.editable.size());
        } else {
            return false;
        }
    } else {
        std::wstring& text = open.field();
        if (open.allSelected && (functionKey ? (key == KEY_BACKSPACE || key == KEY_DC)
                                             : (key == 127 || key == 8 || key >= 32))) {
            text.clear();
            open.cursor = 0;
            open.allSelected = false;
            if (!functionKey && key >= 32 && key != 127) {
                text.insert(text.begin(), static_cast<wchar_t>(key));
                open.cursor = 1;
            }
            return true;
        }
        open.allSelected = false;
        if (functionKey && key == KEY_LEFT) {
            open.cursor = open.cursor > 0 ? open.cursor - 1 : 0;
        } else if (functionKey && key == KEY_RIGHT) {
            open.cursor = std::min(open.cursor + 1, text.size());
        } else if (functionKey && key == KEY_HOME) {
            open.cursor = 0;
        } else if (functionKey && key == KEY_END) {
            open.cursor = text.size();
        } else if ((functionKey && key == KEY_BACKSPACE) ||
                   (!functionKey && (key == 127 || key == 8))) {
            if (open.cursor > 0) {
                text.erase(--open.cursor, 1);
            }
        } else if (functionKey && key == KEY_DC) {
            if (open.cursor < text.size()) {
                text.erase(open.cursor, 1);
            }
        } else if (!functionKey && key >= 32 && key != 127) {
            text.insert(text.begin() + static_cast<long>(open.cursor++), static_cast<wchar_t>(key));
        } else {
            return false;
        }
    }
    return true;
}

void TerminalFrontEnd::edit(OpenAlert& open, ResponderAction action) {
    std::wstring& text = open.field();
    switch (action) {
        case ResponderAction::SelectAll:
            open.allSelected = true;
            open.cursor = text.size();
            break;
        case ResponderAction::Copy:
        case ResponderAction::Cut:
            if (open.allSelected) {
                setString(narrow(text));
                if (action == ResponderAction::Cut) {
                    text.clear();
                    open.cursor = 0;
                    open.allSelected = false;
                }
            }
            break;
        case ResponderAction::Paste: {
            const std::wstring pasted = widen(pasteboard_);
            if (open.allSelected) {
                text.clear();
                open.cursor = 0;
                open.allSelected = false;
            }
            text.insert(open.cursor, pasted);
            open.cursor += pasted.size();
            break;
        }
        case ResponderAction::None:
            break;
    }
}

void TerminalFrontEnd::redraw() {
    if (!started_) {
        return;
    }
    erase();
    drawBar();
    drawPanel();
    drawMenus();
    for (OpenAlert* open : alerts_) {
        drawAlert(*open);
    }
    const std::wstring help = alerts_.empty()
                                  ? L" Enter: menu   ^R: refresh   ^Q: quit   a l p b w: notebook "
                                  : L" Tab: next   Enter: choose   ^A ^X ^C ^V: edit   ^Q: quit ";
    put(LINES - 1, 0, notice_.empty() ? help : L" " + notice_, A_DIM);
    refresh();
    relay(false);
}

void TerminalFrontEnd::drawBar() {
    attron(A_REVERSE);
    mvhline(0, 0, ' ', COLS);
    attroff(A_REVERSE);
    put(0, 1, L"Dorvane", A_REVERSE | A_BOLD);
    const int titleColumn = std::max(0, COLS - columns(title_) - 2);
    put(0, titleColumn, L" " + title_ + L" ", menuPath_.empty() ? A_REVERSE : A_NORMAL);
    if (menuPath_.empty() && alerts_.empty() && !toolTip_.empty()) {
        put(1, std::max(0, COLS - columns(toolTip_) - 2), toolTip_, A_DIM);
    }
}

void TerminalFrontEnd::drawPanel() {
    const auto state = sim::StateFile(statePath_).read(nullptr);
    int row = 2;
    put(row++, 1, L"Simulated notebook", A_BOLD);
    if (!state) {
        put(row, 1, L"(state file unreadable)");
        return;
    }
    const auto line = [&](const std::string& label, const std::string& value) {
        put(row++, 1,
            widen(label + std::string(std::max<std::size_t>(1, 12 - label.size()), ' ') + value));
    };
    line("adapter", state->power == sim::Power::AC ? "plugged in"
                    : state->power == sim::Power::Battery
                        ? "pulled (battery " + std::to_string(state->batteryPercent) + "%)"
                        : "unknown source");
    line("lid", state->lid == sim::Lid::Open     ? "open"
                : state->lid == sim::Lid::Closed ? "closed"
                                                 : "none");
    line("switch", !state->sleepSwitchEverSet ? "never set"
                   : state->sleepDisabled     ? "sleep disabled"
                                              : "normal sleep");
    line("repeating",
         state->wakeSlot ? state->wakeSlot->type + " " + state->wakeSlot->time : "none");
    line("asleep", state->asleep ? "yes" : (state->sleepRequest ? "falling asleep" : "no"));
    line("privilege", state->privilegeInstalled ? "installed" : "not installed");
    ++row;
    put(row++, 1, L"a  plug / pull the adapter", A_DIM);
    put(row++, 1, L"l  open / close the lid", A_DIM);
    put(row++, 1, L"p  grant / revoke the privilege", A_DIM);
    put(row++, 1, L"b  battery down 10%", A_DIM);
    put(row++, 1, L"w  wake the notebook", A_DIM);
}

void TerminalFrontEnd::drawMenus() {
    // Each submenu opens over its parent, below the chosen row, stepped in from the right.
    int top = 1;
    for (std::size_t depth = 0; depth < menuPath_.size(); ++depth) {
        const Menu* menu = menuAtDepth(depth);
        if (menu == nullptr) {
            return;
        }
        int width = 0;
        for (const MenuItem& item : menu->items) {
            width = std::max(width, columns(widen(item.title)) + 10);
        }
        const int right = COLS - 1 - 4 * static_cast<int>(depth);
        const int left = std::max(0, right - width - 1);
        const int inner = right - left - 1;
        mvhline(top, left, ACS_HLINE, inner + 1);
        for (std::size_t i = 0; i < menu->items.size(); ++i) {
            const MenuItem& item = menu->items[i];
            const int row = top + 1 + static_cast<int>(i);
            mvaddch(row, left, ACS_VLINE);
            mvaddch(row, right, ACS_VLINE);
            if (item.separator) {
                mvhline(row, left + 1, ACS_HLINE, inner - 1);
                continue;
            }
            attr_t attributes = A_NORMAL;
            if (!item.enabled)
                attributes |= A_DIM;
            if (item.bold)
                attributes |= A_BOLD;
            if (i == menuPath_[depth])
                attributes |= A_REVERSE;
            std::wstring text =
                std::wstring(item.checked ? L" \u2713 " : L"   ") + widen(item.title);
            std::wstring tail = item.submenu ? L"\u25C2 " : L"";
            if (!item.keyEquivalent.empty()) {
                tail = widen("^" + std::string(
                                       1, static_cast<char>(std::toupper(item.keyEquivalent[0])))) +
                       L" ";
            }
            const int padding = std::max(0, inner - 1 - columns(text) - columns(tail));
            put(row, left + 1, text + std::wstring(static_cast<std::size_t>(padding), L' ') + tail,
                attributes);
        }
        mvhline(top + 1 + static_cast<int>(menu->items.size()), left, ACS_HLINE, inner + 1);
        top += 1 + static_cast<int>(menuPath_[depth]);
    }
}

void TerminalFrontEnd::drawAlert(OpenAlert& open) {
    const Alert& alert = *open.alert;
    const int width = std::min(COLS - 4, 64);
    const std::vector<std::wstring> body = wrap(widen(alert.informativeText), width - 4);
    const std::vector<std::wstring> title = wrap(widen(alert.messageText), width - 4);
    const int height = static_cast<int>(title.size() + body.size() + open.editable.size()) + 6;
    const int top = std::max(1, (LINES - height) / 2);
    const int left = std::max(0, (COLS - width) / 2);
    for (int row = top; row < top + height; ++row) {
        mvhline(row, left, ' ', width);
    }
    attron(A_BOLD);
    mvhline(top, left, ACS_HLINE, width);
    mvhline(top + height - 1, left, ACS_HLINE, width);
    mvvline(top, left, ACS_VLINE, height);
    mvvline(top, left + width - 1, ACS_VLINE, height);
    attroff(A_BOLD);
    int row = top + 1;
    for (const std::wstring& line : title)
        put(row++, left + 2, line, A_BOLD);
    for (const std::wstring& line : body)
        put(row++, left + 2, line);
    ++row;
    int cursorRow = -1;
    int cursorColumn = -1;
    std::wstring label;
    for (std::size_t i = 0, editable = 0; i < alert.accessory.fields.size(); ++i) {
        if (!alert.accessory.fields[i].editable) {
            label = open.texts[i];
            continue;
        }
        const bool focused = open.focusOnField() && open.focus == editable;
        const std::wstring& text = open.texts[i];
        const std::wstring shown =
            text.empty() ? widen(alert.accessory.fields[i].placeholder) : text;
        put(row, left + 2, label);
        const int fieldColumn = left + 4 + std::max(10, columns(label));
        const int fieldWidth = std::max(10, width - (fieldColumn - left) - 3);
        put(row, fieldColumn,
            L"[" + shown +
                std::wstring(static_cast<std::size_t>(std::max(0, fieldWidth - columns(shown))),
                             L' ') +
                L"]",
            focused && open.allSelected ? A_REVERSE : (text.empty() ? A_DIM : A_UNDERLINE));
        if (focused) {
            cursorRow = row;
            cursorColumn = fieldColumn + 1 + columns(text.substr(0, open.cursor));
        }
        label.clear();
        ++row;
        ++editable;
    }
    std::wstring buttons;
    int column = left + width - 2;
    for (std::size_t b = alert.buttons.size(); b-- > 0;) {
        const std::wstring button =
            (b == 0 ? L"< " : L"[ ") + widen(alert.buttons[b]) + (b == 0 ? L" >" : L" ]");
        column -= columns(button) + 1;
        const bool focused = !open.focusOnField() && open.focus - open.editable.size() == b;
        put(top + height - 2, std::max(left + 1, column), button, focused ? A_REVERSE : A_BOLD);
    }
    if (cursorRow >= 0 && &open == alerts_.back()) {
        curs_set(1);
        move(cursorRow, cursorColumn);
    } else {
        curs_set(0);
    }
}

}  // namespace

std::unique_ptr<FrontEnd> makeTerminalFrontEnd(EventLoop& loop, const InstallLayout& layout,
                                               const std::string& notebookStatePath) {
    return std::make_unique<TerminalFrontEnd>(loop, layout, notebookStatePath);
}

std::vector<std::size_t> highlightForNewMenu(const std::vector<std::size_t>& highlight,
                                             const Menu* menu) {
    if (highlight.empty() || menu == nullptr || menu->items.empty()) {
        return {};
    }
    const std::size_t count = menu->items.size();
    const std::size_t kept = std::min(highlight.front(), count - 1);
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t row = (kept + step) % count;
        if (!menu->items[row].separator) {
            return {row};
        }
    }
    return {};
}

}  // namespace dorvane
