#include "control/control_server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/peer_user.h"

namespace dorvane {
namespace {

std::string systemError(const std::string& what, const std::string& where) {
    return what + " " + where + ": " + std::strerror(errno);
}

bool makeNonBlockingAndCloseOnExec(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// The socket's folder: made when missing, and only ever a real folder of this user's that no one
// else may enter.
std::optional<std::string> prepareFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return systemError("cannot make the control folder", folder);
    }
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) {
        return systemError("cannot read the control folder", folder);
    }
    if (!S_ISDIR(status.st_mode) || status.st_uid != ::geteuid()) {
        return "the control folder " + folder + " is not a folder of this user's";
    }
    if ((status.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0) {
        return systemError("cannot close the control folder to others", folder);
    }
    return std::nullopt;
}

}  // namespace

std::variant<UniqueFd, std::string> openControlSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // A path cut short would bind somewhere else entirely.
    if (path.size() >= sizeof address.sun_path) {
        return "the control socket's path is " + std::to_string(path.size()) +
               " bytes long, more than the system's " +
               std::to_string(sizeof address.sun_path - 1) + ": " + path;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (const auto failure = prepareFolder(std::filesystem::path(path).parent_path().string())) {
        return *failure;
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode)) {
            return "something that is not a socket stands at " + path;
        }
        if (::unlink(path.c_str()) != 0) {
            return systemError("cannot remove the stale control socket", path);
        }
    }
    UniqueFd listener(::socket(AF_UNIX, SOCK_STREAM, 0));
    if (!listener.valid() || !makeNonBlockingAndCloseOnExec(listener.get())) {
        return systemError("cannot make the control socket", path);
    }
    if (::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return systemError("cannot bind the control socket", path);
    }
    if (::chmod(path.c_str(), 0600) != 0 || ::listen(listener.get(), 16) != 0) {
        const std::string failure = systemError("cannot listen on the control socket", path);
        ::unlink(path.c_str());
        return failure;
    }
    return listener;
}

std::string controlErrorLine(std::string_view reason) {
    return nlohmann::ordered_json{{"ok", false}, {"error", reason}}.dump();
}

std::string answerControlLine(std::string_view line,
                              const std::function<std::string(const ControlRequest&)>& perform) {
    const ParsedControlRequest parsed = parseControlRequest(line);
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        return controlErrorLine(*reason);
    }
    return perform(std::get<ControlRequest>(parsed));
}

bool ControlServer::samePeerUser(int socket) {
    return peerUser(socket) == ::geteuid();
}

int ControlServer::acceptConnection(int listener) {
    return ::accept(listener, nullptr, nullptr);
}

ControlServer::ControlServer(DescriptorWatch& watch, MainQueue& queue, UniqueFd listener,
                             std::string path, Handler handler, PeerCheck peerCheck, Limits limits,
                             Accept accept)
    : watch_(watch),
      queue_(queue),
      listener_(std::move(listener)),
      path_(std::move(path)),
      handler_(std::move(handler)),
      peerCheck_(std::move(peerCheck)),
      limits_(limits),
      accept_(std::move(accept)) {
    listenWatch_ = watch_.watchReadable(listener_.get(), [this] { acceptClients(); });
}

ControlServer::~ControlServer() {
    close();
}

void ControlServer::close() {
    if (!listener_.valid()) {
        return;
    }
    while (!clients_.empty()) {
        drop(clients_.begin()->first);
    }
    acceptPause_.reset();
    watch_.unwatch(listenWatch_);
    listener_.reset();
    ::unlink(path_.c_str());
}

void ControlServer::acceptClients() {
    for (;;) {
        UniqueFd fd(accept_(listener_.get()));
        if (!fd.valid()) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                pauseAccepting();
            }
            return;
        }
        if (!makeNonBlockingAndCloseOnExec(fd.get())) {
            continue;
        }
        // A refusal is one best-effort line: the connection closes whether or not it lands.
        const auto refuse = [&](std::string_view reason) {
            const std::string line = controlErrorLine(reason) + "\n";
            [[maybe_unused]] const auto written = ::write(fd.get(), line.data(), line.size());
        };
        if (!peerCheck_(fd.get())) {
            refuse("connections from another user are refused");
            continue;
        }
        if (clients_.size() >= limits_.clients) {
            refuse("too many clients");
            continue;
        }
        const int id = nextClient_++;
        Client& client = clients_[id];
        client.fd = std::move(fd);
        client.readWatch = watch_.watchReadable(client.fd.get(), [this, id] { readFrom(id); });
        restartIdleTimer(id);
    }
}

void ControlServer::pauseAccepting() {
    // The connection that could not be taken stays queued and the listener stays readable, so
    // trying again at once would spin; it is tried again after a pause instead.
    watch_.unwatch(std::exchange(listenWatch_, 0));
    acceptPause_ = queue_.startTimer(
        TimerSpec{kAcceptPause, {}, std::chrono::milliseconds(100), WorkKind::RunsDuringAlerts},
        [this] {
            listenWatch_ = watch_.watchReadable(listener_.get(), [this] { acceptClients(); });
        });
}

void ControlServer::restartIdleTimer(int id) {
    Client& client = clients_.at(id);
    client.idleTimer = queue_.startTimer(
        TimerSpec{
            limits_.idleTimeout, {}, std::chrono::milliseconds(100), WorkKind::RunsDuringAlerts},
        [this, id] { drop(id); });
}

void ControlServer::readFrom(int id) {
    // Read in bounded slices so one busy client cannot hold the main thread.
    char chunk[4096];
    for (int slice = 0; slice < 16; ++slice) {
        const auto found = clients_.find(id);
        if (found == clients_.end()) {
            return;
        }
        Client& client = found->second;
        const ssize_t count = ::read(client.fd.get(), chunk, sizeof chunk);
        if (count < 0 && (errno == EINTR)) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (count <= 0) {
            // The end of the input: a last line without its line end is still a request; the
            // connection closes once every answer has been written.
            watch_.unwatch(std::exchange(client.readWatch, 0));
            client.inputEnded = true;
            if (!client.input.empty() && !client.discarding) {
                answer(id, std::exchange(client.input, {}));
            }
            if (clients_.contains(id) && clients_.at(id).output.empty()) {
                drop(id);
            }
            return;
        }
        restartIdleTimer(id);
        client.input.append(chunk, static_cast<std::size_t>(count));
        for (std::size_t end; clients_.contains(id) &&
                              (end = clients_.at(id).input.find('\n')) != std::string::npos;) {
            Client& current = clients_.at(id);
            std::string line = current.input.substr(0, end);
            current.input.erase(0, end + 1);
            if (std::exchange(current.discarding, false)) {
                continue;
            }
            answer(id, line);
        }
        if (!clients_.contains(id)) {
            return;
        }
        Client& current = clients_.at(id);
        if (current.input.size() > kMaximumControlLineLength) {
            current.input.clear();
            if (!std::exchange(current.discarding, true)) {
                reply(id, controlErrorLine("the request line is too long"));
            }
        }
    }
}

void ControlServer::answer(int id, std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    reply(id, handler_(line));
}

void ControlServer::reply(int id, const std::string& text) {
    // The handler may have run anything on the main thread; the client may be gone since.
    const auto found = clients_.find(id);
    if (found == clients_.end()) {
        return;
    }
    found->second.output += text;
    found->second.output += '\n';
    flush(id);
}

void ControlServer::flush(int id) {
    Client& client = clients_.at(id);
    while (!client.output.empty()) {
        const ssize_t written =
            ::write(client.fd.get(), client.output.data(), client.output.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        if (written <= 0) {
            drop(id);
            return;
        }
        client.output.erase(0, static_cast<std::size_t>(written));
    }
    if (client.output.size() > limits_.pendingOutput) {
        drop(id);
        return;
    }
    if (client.output.empty()) {
        if (client.writeWatch != 0) {
            watch_.unwatch(std::exchange(client.writeWatch, 0));
        }
        if (client.inputEnded) {
            drop(id);
        }
    } else if (client.writeWatch == 0) {
        client.writeWatch = watch_.watchWritable(client.fd.get(), [this, id] { flush(id); });
    }
}

void ControlServer::drop(int id) {
    const auto found = clients_.find(id);
    if (found == clients_.end()) {
        return;
    }
    for (const auto watchId : {found->second.readWatch, found->second.writeWatch}) {
        if (watchId != 0) {
            watch_.unwatch(watchId);
        }
    }
    clients_.erase(found);
}

}  // namespace dorvane
