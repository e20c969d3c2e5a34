#include "tools/board-sim/control_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "tools/board-sim/control.h"

namespace vardek::sim {

namespace {

// Pending connections the system holds before the simulator takes them in.
constexpr int kBacklog = 4;
// Read per client and turn of the loop: a client that floods still lets the board's datagrams
// and the other clients through.
constexpr std::size_t kReadChunk = 4096;

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Why the socket file at `address` must be left alone, or empty when nothing listens on it: a
// connection refused is the one sure sign of a socket left behind. Tried without waiting, so a
// listener whose backlog is full cannot hold the simulator up; that one is in use too.
std::string inUse(const sockaddr_un& address) {
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) {
        return errorText("cannot tell whether it is in use");
    }
    const int connected =
        ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int error = errno;
    ::close(probe);
    if (connected == 0 || error == EAGAIN || error == EINPROGRESS) {
        return "another program listens on it";
    }
    if (error == ECONNREFUSED) {
        return {};
    }
    return "cannot tell whether it is in use, so it is left alone: " +
           std::string(std::strerror(error));
}

}  // namespace

ControlSocket::~ControlSocket() {
    for (const Client& client : clients_) {
        ::close(client.fd);
    }
    if (listener_ >= 0) {
        ::close(listener_);
        struct stat file {};
        if (::lstat(path_.c_str(), &file) == 0 && file.st_dev == device_ && file.st_ino == inode_) {
            ::unlink(path_.c_str());
        }
    }
}

std::string ControlSocket::open(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        return "control socket " + path + ": the path must have 1 to " +
               std::to_string(sizeof address.sun_path - 1) + " bytes";
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0) {
        if (!S_ISSOCK(existing.st_mode)) {
            return "control socket " + path + ": the file exists and is not a socket";
        }
        if (const std::string problem = inUse(address); !problem.empty()) {
            return "control socket " + path + ": " + problem;
        }
        ::unlink(path.c_str());
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return errorText("control socket " + path);
    }
    // The socket's file is made with the mode that the umask leaves; made owner-only from the
    // start, no other user can connect in the moment before a chmod.
    const mode_t mask = ::umask(0177);
    const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(fd, kBacklog) != 0) {
        const std::string error = errorText("control socket " + path);
        ::close(fd);
        if (bound) {
            ::unlink(path.c_str());
        }
        return error;
    }
    struct stat made {};
    if (::lstat(path.c_str(), &made) != 0) {
        const std::string error = errorText("control socket " + path);
        ::close(fd);
        return error;
    }
    path_ = path;
    device_ = made.st_dev;
    inode_ = made.st_ino;
    listener_ = fd;
    return {};
}

void ControlSocket::watch(std::vector<pollfd>& fds) const {
    fds.push_back({listener_, POLLIN, 0});
    for (const Client& client : clients_) {
        fds.push_back({client.fd, POLLIN, 0});
    }
}

void ControlSocket::serve(const std::vector<pollfd>& fds, std::size_t first, const Handler& handler,
                          const Notice& notice) {
    // Clients in the same order as watch() listed them; those let go are closed afterwards so
    // that the indices stay valid meanwhile.
    std::vector<Client> kept;
    for (std::size_t i = 0; i < clients_.size(); ++i) {
        const short events = fds[first + 1 + i].revents;
        if ((events & (POLLIN | POLLHUP | POLLERR)) != 0 && !read(clients_[i], handler, notice)) {
            ::close(clients_[i].fd);
            continue;
        }
        kept.push_back(std::move(clients_[i]));
    }
    clients_ = std::move(kept);
    if ((fds[first].revents & POLLIN) != 0) {
        accept(notice);
    }
}

void ControlSocket::accept(const Notice& notice) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return;  // gone again before it was taken in, or out of descriptors: it may retry
    }
    if (clients_.size() >= kMaxControlClients && !makeRoom(notice)) {
        Client refused{.fd = fd, .line = {}};
        answer(refused,
               "error: already " + std::to_string(kMaxControlClients) + " control connections",
               notice);
        ::close(fd);
        notice("control connection refused: " + std::to_string(kMaxControlClients) +
               " already open");
        return;
    }
    clients_.push_back({.fd = fd, .line = {}, .heard = Clock::now()});
}

bool ControlSocket::makeRoom(const Notice& notice) {
    const auto quietest = std::ranges::min_element(clients_, {}, &Client::heard);
    const auto silent =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - quietest->heard);
    if (silent < idleLimit_) {
        return false;
    }
    ::close(quietest->fd);
    clients_.erase(quietest);
    notice("control connection closed: silent for " + std::to_string(silent.count() / 1000) +
           " s, its place taken by a new one");
    return true;
}

bool ControlSocket::read(Client& client, const Handler& handler, const Notice& notice) {
    char chunk[kReadChunk];
    const ssize_t got = ::recv(client.fd, chunk, sizeof chunk, 0);
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
        return false;
    }
    if (got > 0) {
        client.heard = Clock::now();
    }
    for (ssize_t i = 0; i < std::max<ssize_t>(got, 0); ++i) {
        const char c = chunk[i];
        if (c == '\n') {
            if (!client.discarding && !answer(client, handler(client.line), notice)) {
                return false;
            }
            client.line.clear();
            client.discarding = false;
        } else if (client.discarding) {
            continue;
        } else if (client.line.size() == kMaxControlLine) {
            // Answered at once, not at its newline, which may never come.
            client.line.clear();
            client.discarding = true;
            const std::string refusal =
                "error: line longer than " + std::to_string(kMaxControlLine) + " bytes, ignored";
            notice("control " + refusal);
            if (!answer(client, refusal, notice)) {
                return false;
            }
        } else {
            client.line += c;
        }
    }
    return true;
}

bool ControlSocket::answer(Client& client, const std::string& text, const Notice& notice) {
    const std::string line = text + '\n';
    const ssize_t sent = ::send(client.fd, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(line.size())) {
        return true;
    }
    // A client whose answers have filled the socket's buffer is not reading them; holding
    // answers for it would let it grow the simulator's memory.
    if (sent >= 0 || errno == EAGAIN) {
        notice("control connection closed: its answers are not being read");
    }
    return false;
}

}  // namespace vardek::sim
