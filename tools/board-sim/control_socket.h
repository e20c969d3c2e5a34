// The control socket: a Unix-domain stream socket, readable and writable by its owner only,
// whose clients send one command a line and read one answer a line.
//
// Everything a client sends is untrusted: lines are bounded, a client that stops reading its
// answers is let go rather than waited for, and only a few clients are served at once.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>

namespace vardek::sim {

inline constexpr std::size_t kMaxControlClients = 8;

class ControlSocket {
  public:
    // Takes a command line (its newline taken off) and gives its answer (without one).
    using Handler = std::function<std::string(std::string_view)>;
    // Says what happened to a client that the commands do not show: refused, let go.
    using Notice = std::function<void(const std::string&)>;

    ControlSocket() = default;
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;
    // Closes every connection and removes the socket's file.
    ~ControlSocket();

    // Listens at `path`, replacing a socket file that nobody listens on any more (left by a
    // simulator that was killed). Returns why it failed, or an empty text.
    std::string open(const std::string& path);
    bool isOpen() const { return listener_ >= 0; }

    // The descriptors to poll, appended to `fds`.
    void watch(std::vector<pollfd>& fds) const;
    // Serves what `fds` (from `watch`, from `first` on) reports: new clients, their lines.
    void serve(const std::vector<pollfd>& fds, std::size_t first, const Handler& handler,
               const Notice& notice);

  private:
    struct Client {
        int fd = -1;
        std::string line;
        bool discarding = false;  // inside an over-long line, until its newline
    };

    void accept(const Notice& notice);
    // False when the client has gone or must be let go.
    bool read(Client& client, const Handler& handler, const Notice& notice);
    bool answer(Client& client, const std::string& text, const Notice& notice);

    std::string path_;
    int listener_ = -1;
    std::vector<Client> clients_;
};

}  // namespace vardek::sim
