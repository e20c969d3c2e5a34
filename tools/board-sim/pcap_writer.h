// Captures of the simulator's traffic as classic pcap files, for reading in Wireshark or tshark.
//
// Each datagram is stored as the IPv4 packet that carried it (raw IP link type), with its real
// addresses and ports, valid checksums and a microsecond timestamp.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "link/udp_socket.h"
#include "tools/board-sim/board_model.h"

namespace vardek::sim {

// The file header: pcap 2.4, little-endian, microsecond timestamps, raw IPv4 packets.
Bytes pcapFileHeader();

// One record: the record header, then `payload` in a UDP datagram in an IPv4 packet.
// `payload` is at most 65507 bytes, the most that UDP carries over IPv4.
Bytes pcapRecord(const link::SocketAddress& source, const link::SocketAddress& destination,
                 std::span<const std::uint8_t> payload, std::chrono::system_clock::time_point time,
                 std::uint16_t identification);

// Writes a capture record by record, each with one write to the file, so that the file can be
// read while the simulator runs and is whole whenever it stops.
class PcapWriter {
  public:
    PcapWriter() = default;
    PcapWriter(const PcapWriter&) = delete;
    PcapWriter& operator=(const PcapWriter&) = delete;
    ~PcapWriter();

    struct Opened {
        std::string error;     // empty when the capture is open
        bool refused = false;  // no regular file, or a file of something else: left untouched
    };
    // Creates the file at `path` and writes the file header, or appends to a capture that this
    // writer made there before. A file that is not a regular file, or holds anything else, is
    // refused and left as it is.
    Opened open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }

    // Appends one datagram. On failure the file is cut back to its last whole record and
    // closed, and the text says why; nothing more is written to it.
    std::string write(const link::SocketAddress& source, const link::SocketAddress& destination,
                      std::span<const std::uint8_t> payload);

  private:
    std::string append(const Bytes& bytes);
    void close();

    int fd_ = -1;
    long long size_ = 0;
    std::uint16_t identification_ = 0;
};

}  // namespace vardek::sim
