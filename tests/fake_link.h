// Datagrams as the tests write them (Bytes, a QtTest column type too), and an endpoint stand-in
// that records what is sent and hands out the datagram being delivered.
#pragma once

#include <QMetaType>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <vector>

#include "link/board_protocol.h"
#include "link/datagram_link.h"
#include "link/reply_text.h"

namespace vardek::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(const link::Request& request) {
    return {request.bytes().begin(), request.bytes().end()};
}

// A board reply carrying `portB` and the conversion result; its other bytes are zero.
inline Bytes replyWith(std::uint8_t portB, std::uint16_t conversion = 0) {
    const link::ReplyBytes bytes = link::encodeReply(portB, conversion).bytes;
    return {bytes.begin(), bytes.end()};
}

// "01 06 02", as the probe writes a request.
inline QString hex(const Bytes& bytes) { return QString::fromStdString(link::hexText(bytes, 2)); }

inline QStringList hexAll(const std::vector<Bytes>& datagrams) {
    QStringList texts;
    for (const Bytes& datagram : datagrams) {
        texts << hex(datagram);
    }
    return texts;
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

    QStringList sentHex() const { return hexAll(sent); }

    std::vector<Bytes> sent;
    Bytes incoming;
    // Makes a send throw, as a socket error would.
    std::function<bool(const Bytes&)> failSend;

  private:
    QStringList& journal_;
};

}  // namespace vardek::test

Q_DECLARE_METATYPE(vardek::test::Bytes)
