// What the panel needs of a datagram endpoint, kept free of Qt so the panel runs against a fake.
#pragma once

#include <cstdint>
#include <span>

namespace vardek::link {

class DatagramLink {
  public:
    virtual ~DatagramLink() = default;

    // Sends the first `count` bytes of `buffer` as one datagram to the board and returns without
    // waiting for an answer. A failure is thrown, never swallowed.
    virtual void SendBuffer(std::span<const std::uint8_t> buffer, int count) = 0;

    // Inside the data event: copies the datagram that raised it into `buffer`, at most
    // buffer.size() bytes, and sets `count` to the number copied. The incoming value of `count`
    // is ignored: the buffer's size is the capacity.
    virtual void ReadBuffer(std::span<std::uint8_t> buffer, int& count) = 0;
};

}  // namespace vardek::link
