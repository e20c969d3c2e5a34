// An endpoint stand-in: records what is sent and hands out the datagram being delivered.
#pragma once

#include <QStringList>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <vector>

#include "datagram_link.h"

namespace vardek::test {

using Bytes = std::vector<std::uint8_t>;

// A board reply carrying `portB` and the conversion result; its other bytes are zero.
inline Bytes replyWith(std::uint8_t portB, std::uint16_t conversion = 0) {
    return {0x00,
            portB,
            0x00,
            0x00,
            static_cast<std::uint8_t>(conversion >> 8),
            static_cast<std::uint8_t>(conversion & 0xFF),
            0x00,
            0x00};
}

inline QString hex(const Bytes& bytes) {
    QStringList parts;
    for (const std::uint8_t byte : bytes) {
        parts << QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    return parts.join(' ');
}

class FakeLink : public link::DatagramLink {
  public:
    explicit FakeLink(QStringList& journal) : journal_(journal) {}

    void SendBuffer(std::span<const std::uint8_t> buffer, int count) override {
        const Bytes datagram(buffer.begin(), buffer.begin() + count);
        if (failSend && failSend(datagram)) {
            throw std::runtime_error("send failed: " + hex(datagram).toStdString());
        }
        sent.push_back(datagram);
        journal_ << QStringLiteral("send ") + hex(datagram);
    }

    void ReadBuffer(std::span<std::uint8_t> buffer, int& count) override {
        const std::size_t copied = std::min(incoming.size(), buffer.size());
        std::copy_n(incoming.begin(), copied, buffer.begin());
        count = static_cast<int>(copied);
    }

    QStringList sentHex() const {
        QStringList texts;
        for (const Bytes& datagram : sent) {
            texts << hex(datagram);
        }
        return texts;
    }

    std::vector<Bytes> sent;
    Bytes incoming;
    // Makes a send throw, as a socket error would.
    std::function<bool(const Bytes&)> failSend;

  private:
    QStringList& journal_;
};

}  // namespace vardek::test
