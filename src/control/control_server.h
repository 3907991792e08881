#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "base/unique_fd.h"
#include "control/control_request.h"
#include "platform/descriptor_watch.h"
#include "platform/main_queue.h"

namespace dorvane {

// Makes the folder (mode 0700, owned by this user, never through a link) and a listening,
// non-blocking, close-on-exec Unix-domain socket at path, mode 0600. Whatever socket stood at
// path is removed first: the caller holds the instance lock, so its owner is gone. Anything
// else at path is left alone and refused. The error says what and where.
std::variant<UniqueFd, std::string> openControlSocket(const std::string& path);

// The answer line for a request line: the error for a line that is no request, else what
// perform answers.
std::string answerControlLine(std::string_view line,
                              const std::function<std::string(const ControlRequest&)>& perform);
// The error answer with this reason.
std::string controlErrorLine(std::string_view reason);

// How much the control socket serves at once, and how long it waits for a silent client.
struct ControlServerLimits {
    std::size_t clients = 8;
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(30);
    std::size_t pendingOutput = 256 * 1024;  // answers a client has not read
};

// Serves the control socket on the main loop: JSON request lines in, one answer line each out.
// Nothing here blocks: a client that sends nothing, sends half a line or reads nothing costs a
// buffer and a watch, until its idle time-out or its output bound closes it.
class ControlServer {
public:
    using Limits = ControlServerLimits;
    using Handler = std::function<std::string(std::string_view line)>;
    // Whether the peer of an accepted connection may talk to us: by default, the same user.
    using PeerCheck = std::function<bool(int socket)>;
    static bool samePeerUser(int socket);
    // Takes the next connection from the listener, as accept(2) does: a stand-in lets a test run
    // out of descriptors.
    using Accept = std::function<int(int listener)>;
    static int acceptConnection(int listener);
    // How long accepting rests when the process or the system is out of descriptors.
    static constexpr std::chrono::seconds kAcceptPause{1};

    ControlServer(DescriptorWatch& watch, MainQueue& queue, UniqueFd listener, std::string path,
                  Handler handler, PeerCheck peerCheck = samePeerUser, Limits limits = {},
                  Accept accept = acceptConnection);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Closes every connection and removes the socket; at quit.
    void close();

private:
    struct Client {
        UniqueFd fd;
        DescriptorWatch::WatchId readWatch = 0;
        DescriptorWatch::WatchId writeWatch = 0;
        std::string input;
        std::string output;
        bool discarding = false;  // the rest of an over-long line is read and dropped
        bool inputEnded = false;
        std::unique_ptr<TimerSource> idleTimer;
    };

    void acceptClients();
    void pauseAccepting();
    void readFrom(int id);
    void answer(int id, std::string_view line);
    void reply(int id, const std::string& text);
    void flush(int id);
    void drop(int id);
    void restartIdleTimer(int id);

    DescriptorWatch& watch_;
    MainQueue& queue_;
    UniqueFd listener_;
    std::string path_;
    Handler handler_;
    PeerCheck peerCheck_;
    Limits limits_;
    Accept accept_;
    DescriptorWatch::WatchId listenWatch_ = 0;
    std::unique_ptr<TimerSource> acceptPause_;
    std::map<int, Client> clients_;
    int nextClient_ = 1;
};

}  // namespace dorvane
