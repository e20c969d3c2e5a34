#include "tools/board-sim/pcap_writer.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/regular_file.h"

namespace vardek::sim {

namespace {

constexpr std::uint32_t kMagicMicroseconds = 0xA1B2C3D4;
constexpr std::uint32_t kSnapLength = 65535;
constexpr std::uint32_t kLinkTypeRaw = 101;
constexpr std::size_t kIpHeaderSize = 20;
constexpr std::size_t kUdpHeaderSize = 8;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::uint8_t kTimeToLive = 64;

void putLittle(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void putBig(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void setBig16(Bytes& out, std::size_t offset, std::uint16_t value) {
    out[offset] = static_cast<std::uint8_t>(value >> 8);
    out[offset + 1] = static_cast<std::uint8_t>(value);
}

// The Internet checksum's running sum of big-endian 16-bit words, an odd last byte padded.
std::uint32_t addWords(std::uint32_t sum, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
        if (i + 1 < bytes.size()) {
            sum += bytes[i + 1];
        }
    }
    return sum;
}

std::uint16_t finish(std::uint32_t sum) {
    while (sum >> 16) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::string errorText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

constexpr std::size_t kRecordHeaderSize = 16;

std::uint32_t little32(const std::uint8_t* bytes) {
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

// Empty when the `size` bytes of `fd` are a capture as this writer makes it: its very file header,
// then whole records of raw IPv4 packets, each held whole. Otherwise what they are instead.
std::string notOwnCapture(int fd, off_t size) {
    const Bytes expected = pcapFileHeader();
    Bytes header(expected.size());
    if (size < off_t(header.size()) ||
        ::pread(fd, header.data(), header.size(), 0) != ssize_t(header.size()) ||
        header != expected) {
        return "holds something other than a capture of this simulator's";
    }
    std::uint8_t record[kRecordHeaderSize];
    for (off_t at = off_t(header.size()); at < size;) {
        if (size - at < off_t(kRecordHeaderSize) ||
            ::pread(fd, record, sizeof record, at) != ssize_t(sizeof record)) {
            return "ends inside a record";
        }
        const std::uint32_t captured = little32(record + 8);
        if (captured != little32(record + 12) || captured > kSnapLength ||
            captured < kIpHeaderSize + kUdpHeaderSize) {
            return "holds a record this simulator does not write, at byte " + std::to_string(at);
        }
        at += off_t(kRecordHeaderSize + captured);
        if (at > size) {
            return "ends inside a record";
        }
    }
    return {};
}

}  // namespace

Bytes pcapFileHeader() {
    Bytes header;
    putLittle(header, kMagicMicroseconds, 4);
    putLittle(header, 2, 2);  // version 2.4
    putLittle(header, 4, 2);
    putLittle(header, 0, 4);  // timestamps in UTC
    putLittle(header, 0, 4);  // accuracy, unused
    putLittle(header, kSnapLength, 4);
    putLittle(header, kLinkTypeRaw, 4);
    return header;
}

Bytes pcapRecord(const link::SocketAddress& source, const link::SocketAddress& destination,
                 std::span<const std::uint8_t> payload, std::chrono::system_clock::time_point time,
                 std::uint16_t identification) {
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
    const auto udpLength = static_cast<std::uint32_t>(kUdpHeaderSize + payload.size());
    const auto packetLength = static_cast<std::uint32_t>(kIpHeaderSize + udpLength);

    Bytes record;
    record.reserve(16 + packetLength);
    putLittle(record, static_cast<std::uint32_t>(micros / 1000000), 4);
    putLittle(record, static_cast<std::uint32_t>(micros % 1000000), 4);
    putLittle(record, packetLength, 4);  // captured
    putLittle(record, packetLength, 4);  // on the wire

    const std::size_t ip = record.size();
    putBig(record, 0x45, 1);  // version 4, 5-word header
    putBig(record, 0, 1);
    putBig(record, packetLength, 2);
    putBig(record, identification, 2);
    putBig(record, 0, 2);  // not fragmented
    putBig(record, kTimeToLive, 1);
    putBig(record, kProtocolUdp, 1);
    putBig(record, 0, 2);  // checksum, below
    putBig(record, source.address, 4);
    putBig(record, destination.address, 4);
    setBig16(record, ip + 10, finish(addWords(0, std::span(record).subspan(ip, kIpHeaderSize))));

    const std::size_t udp = record.size();
    putBig(record, source.port, 2);
    putBig(record, destination.port, 2);
    putBig(record, udpLength, 2);
    putBig(record, 0, 2);  // checksum, below
    record.insert(record.end(), payload.begin(), payload.end());
    // Over the pseudo-header (addresses, protocol, UDP length), the UDP header and the payload.
    // A sum of 0 goes out as 0xFFFF, since 0 means "no checksum".
    std::uint32_t sum = addWords(0, std::span(record).subspan(ip + 12, 8));
    sum += kProtocolUdp + udpLength;
    sum = addWords(sum, std::span(record).subspan(udp));
    const std::uint16_t checksum = finish(sum);
    setBig16(record, udp + 6, checksum == 0 ? 0xFFFF : checksum);
    return record;
}

PcapWriter::~PcapWriter() { close(); }

PcapWriter::Opened PcapWriter::open(const std::string& path) {
    close();
    host::OpenedFile opened = host::openRegularFile(path, O_RDWR | O_APPEND | O_CREAT, 0644);
    if (!opened.problem.empty()) {
        return {path + ": " + opened.problem, opened.wrongKind};
    }
    struct stat status {};
    if (::fstat(opened.fd.get(), &status) != 0) {
        return {errorText(("cannot open " + path).c_str()), false};
    }
    // Someone's data is never cut: a file of other content is left as it is.
    if (status.st_size > 0) {
        if (const std::string other = notOwnCapture(opened.fd.get(), status.st_size);
            !other.empty()) {
            return {path + " " + other + ": refused untouched", true};
        }
    }
    fd_ = opened.fd.release();
    size_ = status.st_size;
    return {status.st_size > 0 ? std::string() : append(pcapFileHeader()), false};
}

std::string PcapWriter::write(const link::SocketAddress& source,
                              const link::SocketAddress& destination,
                              std::span<const std::uint8_t> payload) {
    if (!isOpen()) {
        return "the capture is closed";
    }
    return append(pcapRecord(source, destination, payload, std::chrono::system_clock::now(),
                             identification_++));
}

std::string PcapWriter::append(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            std::string error = errorText("cannot write the capture");
            // A part of a record would leave every reader stuck on it.
            if (::ftruncate(fd_, size_) != 0) {
                error += ", and cannot cut off the partial record";
            }
            close();
            return error;
        }
        done += static_cast<std::size_t>(written);
    }
    size_ += static_cast<long long>(bytes.size());
    return {};
}

void PcapWriter::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

}  // namespace vardek::sim
