// Files the programs take by name: a log, a capture, the settings file. Each is looked at before
// it is read or written, so that a FIFO, a device or a directory in its place is refused with the
// reason instead of holding the program up (opening a FIFO waits for its other end, with the stop
// signals blocked) or feeding it endless bytes (/dev/zero).
#pragma once

#include <string>

#include <sys/types.h>

namespace vardek::host {

// An open file descriptor, closed when it goes.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // Hands the descriptor over: it is the caller's to close.
    int release();

  private:
    int fd_ = -1;
};

// "is a named pipe (FIFO), not a regular file", for a file of `mode` that is no regular file.
std::string notRegularFile(mode_t mode);

struct OpenedFile {
    FileDescriptor fd;  // open when the file is a regular file and could be opened
    // Why not, as a phrase to put after the file's name ("is a directory, not a regular file",
    // "cannot be read: Permission denied"); empty when open.
    std::string problem;
    bool missing = false;    // nothing at the path (with O_CREAT not asked for)
    bool wrongKind = false;  // something is there, but no regular file
};

// Opens `path` with `flags` (O_RDONLY, or O_WRONLY | O_CREAT with `mode`, ...) when it is a
// regular file. The path is looked at first and the file opened without waiting, then looked at
// again through the descriptor, so a FIFO or a device put in its place in between is refused
// too; the descriptor is blocking again when it is handed over.
OpenedFile openRegularFile(const std::string& path, int flags, mode_t mode = 0);

}  // namespace vardek::host
