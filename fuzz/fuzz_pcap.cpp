// The simulator's pcap writer with any sequence of datagrams, the file read back record by
// record: each a whole IPv4/UDP packet with the datagram's addresses, ports and bytes, and
// checksums that verify. The file lives in memory (memfd), opened by its /proc path.
//
// Input, per record: source address (4 bytes), port (2), destination address (4), port (2),
// payload size (u16 % 65508), then the payload's bytes, repeated to its size when the input
// runs short.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "fuzz/fuzz_input.h"
#include "tools/board-sim/board_model.h"
#include "tools/board-sim/pcap_writer.h"

namespace {

using vardek::fuzz::Input;
using vardek::link::SocketAddress;
using vardek::sim::Bytes;

constexpr std::size_t kMaxRecords = 16;
constexpr std::size_t kMaxPayload = 65507;

struct Record {
    SocketAddress source;
    SocketAddress destination;
    Bytes payload;
};

class Reader {
  public:
    explicit Reader(Bytes bytes) : bytes_(std::move(bytes)) {}

    std::size_t left() const { return bytes_.size() - at_; }
    std::uint32_t little(int size) {
        FUZZ_REQUIRE(left() >= static_cast<std::size_t>(size));
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            value |= static_cast<std::uint32_t>(bytes_[at_++]) << (8 * i);
        }
        return value;
    }
    std::uint32_t big(int size) {
        FUZZ_REQUIRE(left() >= static_cast<std::size_t>(size));
        std::uint32_t value = 0;
        for (int i = 0; i < size; ++i) {
            value = value << 8 | bytes_[at_++];
        }
        return value;
    }
    std::span<const std::uint8_t> span(std::size_t offset, std::size_t size) const {
        return std::span(bytes_).subspan(offset, size);
    }
    std::size_t at() const { return at_; }
    void skip(std::size_t size) {
        FUZZ_REQUIRE(left() >= size);
        at_ += size;
    }

  private:
    Bytes bytes_;
    std::size_t at_ = 0;
};

// Ones' complement sum of 16-bit big-endian words: a checksummed block sums to 0xFFFF.
std::uint32_t sum(std::uint32_t total, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        total += (i % 2 == 0) ? bytes[i] << 8 : bytes[i];
    }
    while (total >> 16) {
        total = (total & 0xFFFF) + (total >> 16);
    }
    return total;
}

void checkRecord(Reader& file, const Record& record, std::uint16_t identification) {
    const std::size_t length = 20 + 8 + record.payload.size();
    file.little(4);  // seconds
    FUZZ_REQUIRE(file.little(4) < 1000000);
    FUZZ_REQUIRE(file.little(4) == length && file.little(4) == length);

    const std::size_t ip = file.at();
    FUZZ_REQUIRE(file.big(1) == 0x45);
    file.skip(1);
    FUZZ_REQUIRE(file.big(2) == length && file.big(2) == identification);
    FUZZ_REQUIRE(file.big(2) == 0);  // not fragmented
    file.skip(1);                    // time to live
    FUZZ_REQUIRE(file.big(1) == 17);
    file.skip(2);
    FUZZ_REQUIRE(file.big(4) == record.source.address);
    FUZZ_REQUIRE(file.big(4) == record.destination.address);
    FUZZ_REQUIRE(sum(0, file.span(ip, 20)) == 0xFFFF);

    const std::size_t udp = file.at();
    FUZZ_REQUIRE(file.big(2) == record.source.port && file.big(2) == record.destination.port);
    const std::uint32_t udpLength = file.big(2);
    FUZZ_REQUIRE(udpLength == 8 + record.payload.size());
    FUZZ_REQUIRE(file.big(2) != 0);  // 0 would say "no checksum"
    const auto payload = file.span(file.at(), record.payload.size());
    FUZZ_REQUIRE(std::ranges::equal(payload, record.payload));
    file.skip(record.payload.size());
    // The pseudo-header: addresses, protocol and UDP length.
    const std::uint32_t pseudo = sum(17 + udpLength, file.span(ip + 12, 8));
    FUZZ_REQUIRE(sum(pseudo, file.span(udp, udpLength)) == 0xFFFF);
}

Bytes contents(int fd) {
    Bytes bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
    FUZZ_REQUIRE(::pread(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()));
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("fuzz-pcap", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    FUZZ_REQUIRE(fd >= 0);

    Input input(data, size);
    std::vector<Record> records;
    while (!input.done() && records.size() < kMaxRecords) {
        Record record;
        record.source.address = input.u32();
        record.source.port = input.u16();
        record.destination.address = input.u32();
        record.destination.port = input.u16();
        const std::size_t length = input.u16() % (kMaxPayload + 1);
        record.payload = input.bytes(length);
        const std::size_t given = record.payload.size();
        record.payload.resize(length);
        for (std::size_t i = given; given > 0 && i < length; ++i) {
            record.payload[i] = record.payload[i - given];
        }
        records.push_back(std::move(record));
    }

    // The writer appends to a capture of its own: each run starts from an empty file.
    FUZZ_REQUIRE(::ftruncate(fd, 0) == 0);
    vardek::sim::PcapWriter writer;
    FUZZ_REQUIRE(writer.open(path).error.empty());
    for (const Record& record : records) {
        FUZZ_REQUIRE(writer.write(record.source, record.destination, record.payload).empty());
    }

    Reader file(contents(fd));
    FUZZ_REQUIRE(file.little(4) == 0xA1B2C3D4);
    FUZZ_REQUIRE(file.little(2) == 2 && file.little(2) == 4);
    file.skip(8);
    FUZZ_REQUIRE(file.little(4) == 65535 && file.little(4) == 101);  // snap length, raw IPv4
    for (std::size_t i = 0; i < records.size(); ++i) {
        checkRecord(file, records[i], static_cast<std::uint16_t>(i));
    }
    FUZZ_REQUIRE(file.left() == 0);
    return 0;
}
