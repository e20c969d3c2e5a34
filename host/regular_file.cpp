#include "host/regular_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vardek::host {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.release();
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int FileDescriptor::release() { return std::exchange(fd_, -1); }

std::string notRegularFile(mode_t mode) {
    const char* kind = S_ISDIR(mode)                    ? "a directory"
                       : S_ISFIFO(mode)                 ? "a named pipe (FIFO)"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                        : "something";
    return std::string("is ") + kind + ", not a regular file";
}

OpenedFile openRegularFile(const std::string& path, int flags, mode_t mode) {
    const char* cannot =
        (flags & O_ACCMODE) == O_RDONLY ? "cannot be read: " : "cannot be written: ";
    OpenedFile opened;
    struct stat status {};
    // Looked at before it is opened: opening a FIFO waits for its other end, and a device may act
    // on being opened.
    if (::stat(path.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            opened.wrongKind = true;
            opened.problem = notRegularFile(status.st_mode);
            return opened;
        }
    } else if (errno != ENOENT || (flags & O_CREAT) == 0) {
        const int error = errno;
        opened.missing = error == ENOENT && ::lstat(path.c_str(), &status) != 0;
        opened.problem = error == ENOENT && !opened.missing
                             ? "is a symbolic link to nothing"
                             : cannot + std::string(std::strerror(error));
        return opened;
    }
    // Without waiting even if something else took the file's place since.
    FileDescriptor fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
    if (!fd.isOpen()) {
        opened.missing = errno == ENOENT;
        opened.problem = cannot + std::string(std::strerror(errno));
        return opened;
    }
    if (::fstat(fd.get(), &status) != 0) {
        opened.problem = cannot + std::string(std::strerror(errno));
        return opened;
    }
    if (!S_ISREG(status.st_mode)) {
        opened.wrongKind = true;
        opened.problem = notRegularFile(status.st_mode);
        return opened;
    }
    const int descriptorFlags = ::fcntl(fd.get(), F_GETFL);
    if (descriptorFlags < 0 || ::fcntl(fd.get(), F_SETFL, descriptorFlags & ~O_NONBLOCK) != 0) {
        opened.problem = cannot + std::string(std::strerror(errno));
        return opened;
    }
    opened.fd = std::move(fd);
    return opened;
}

}  // namespace vardek::host
