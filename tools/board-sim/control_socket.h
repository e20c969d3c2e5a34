// The control socket: a Unix-domain stream socket, readable and writable by its owner only,
// whose clients send one command a line and read one answer a line.
//
// Everything a client sends is untrusted: lines are bounded, a client that stops reading its
// answers is let go rather than waited for, and only a few clients are served at once; when they
// are all taken, one that has sent nothing for a while makes room for a new one.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>
#include <sys/types.h>

namespace vardek::sim {

inline constexpr std::size_t kMaxControlClients = 8;
// A client silent this long is let go when another wants its place.
inline constexpr std::chrono::milliseconds kControlIdleLimit = std::chrono::seconds(10);

class ControlSocket {
  public:
    // Takes a command line (its newline taken off) and gives its answer (without one).
    using Handler = std::function<std::string(std::string_view)>;
    // Says what happened to a client that the commands do not show: refused, let go.
    using Notice = std::function<void(const std::string&)>;

    explicit ControlSocket(std::chrono::milliseconds idleLimit = kControlIdleLimit)
        : idleLimit_(idleLimit) {}
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;
    // Closes every connection and removes the socket's file, if it is still the one made here
    // (a later simulator may have taken the path over since).
    ~ControlSocket();

    // Listens at `path`, replacing a socket file that refuses connections (left by a simulator
    // that was killed). A path that is no socket, or one that cannot be told unused (a listener
    // with a full backlog, a socket this user may not connect to) is left alone and refused.
    // Returns why it failed, or an empty text.
    std::string open(const std::string& path);
    bool isOpen() const { return listener_ >= 0; }

    // The descriptors to poll, appended to `fds`.
    void watch(std::vector<pollfd>& fds) const;
    // Serves what `fds` (from `watch`, from `first` on) reports: new clients, their lines.
    void serve(const std::vector<pollfd>& fds, std::size_t first, const Handler& handler,
               const Notice& notice);

  private:
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd = -1;
        std::string line;
        bool discarding = false;    // inside an over-long line, until its newline
        Clock::time_point heard{};  // when it connected or last sent something
    };

    void accept(const Notice& notice);
    // False when the client has gone or must be let go.
    bool read(Client& client, const Handler& handler, const Notice& notice);
    bool answer(Client& client, const std::string& text, const Notice& notice);

    // Lets go the client silent the longest, if it has been silent past the limit.
    bool makeRoom(const Notice& notice);

    std::chrono::milliseconds idleLimit_;
    std::string path_;
    dev_t device_ = 0;  // the socket file's, as bound
    ino_t inode_ = 0;
    int listener_ = -1;
    std::vector<Client> clients_;
};

}  // namespace vardek::sim
