// Bytes on the wire and the texts a reply is shown with.
#include <QTest>

#include "link/board_protocol.h"
#include "link/reply_text.h"
#include "tests/fake_link.h"

using namespace vardek::link;
using vardek::test::Bytes;
using vardek::test::bytesOf;

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

}  // namespace

class TestProtocol : public QObject {
    Q_OBJECT

  private slots:
    void requests_data() {
        QTest::addColumn<Bytes>("sent");
        QTest::addColumn<Bytes>("expected");
        QTest::newRow("status is one byte") << bytesOf(statusRequest()) << Bytes{0x00};
        QTest::newRow("set RB2") << bytesOf(setBitRequest(2)) << Bytes{0x01, 0x06, 0x02};
        QTest::newRow("set RB7") << bytesOf(setBitRequest(7)) << Bytes{0x01, 0x06, 0x07};
        QTest::newRow("clear RB2") << bytesOf(clearBitRequest(2)) << Bytes{0x02, 0x06, 0x02};
        QTest::newRow("clear RB7") << bytesOf(clearBitRequest(7)) << Bytes{0x02, 0x06, 0x07};
        QTest::newRow("read RA0") << bytesOf(readChannelRequest(0x81)) << Bytes{0x04, 0x81, 0x01};
        QTest::newRow("read RA5") << bytesOf(readChannelRequest(0xA1)) << Bytes{0x04, 0xA1, 0x01};
    }
    void requests() {
        QFETCH(Bytes, sent);
        QFETCH(Bytes, expected);
        QCOMPARE(sent, expected);
    }

    void statusRequestIsBuiltInThreeBytes() {
        const Request request = statusRequest();
        QCOMPARE(request.buffer.size(), std::size_t{3});
        QCOMPARE(request.count, 1);
    }

    void inputBitsAreNeverDriven_data() {
        QTest::addColumn<int>("bit");
        for (const int bit : {0, 1, 8, 255}) {
            QTest::addRow("bit %d", bit) << bit;
        }
    }
    void inputBitsAreNeverDriven() {
        QFETCH(int, bit);
        const auto pin = static_cast<std::uint8_t>(bit);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, setBitRequest(pin));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, clearBitRequest(pin));
    }

    void channelTable_data() {
        QTest::addColumn<QString>("pin");
        QTest::addColumn<int>("selector");
        QTest::addColumn<bool>("temperature");
        QTest::newRow("RA0") << "RA0" << 0x81 << false;
        QTest::newRow("RA1") << "RA1" << 0x89 << false;
        QTest::newRow("RA2") << "RA2" << 0x91 << false;
        QTest::newRow("RA3") << "RA3" << 0x99 << false;
        QTest::newRow("RA5") << "RA5" << 0xA1 << true;
    }
    void channelTable() {
        QFETCH(QString, pin);
        QFETCH(int, selector);
        QFETCH(bool, temperature);
        const Channel* channel = findChannel(static_cast<std::uint8_t>(selector));
        QVERIFY(channel != nullptr);
        QCOMPARE(QString::fromUtf8(channel->pin.data(), qsizetype(channel->pin.size())), pin);
        QCOMPARE(channel->reading == Reading::Temperature, temperature);
    }

    void onlySelectorsNameChannels() {
        int named = 0;
        for (int byte = 0; byte <= 0xFF; ++byte) {
            named += findChannel(static_cast<std::uint8_t>(byte)) != nullptr;
        }
        QCOMPARE(named, 5);
        QVERIFY(findChannel(0) == nullptr);
        QVERIFY(findChannel(channelSelector(5)) == nullptr);  // no RA4: nothing past channel 4
    }

    void replyIsExactlyEightBytes_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("accepted");
        for (const int size : {0, 1, 7, 8, 9, 65507}) {
            QTest::addRow("%d bytes", size) << size << (size == 8);
        }
    }
    void replyIsExactlyEightBytes() {
        QFETCH(int, size);
        QFETCH(bool, accepted);
        const Bytes datagram(static_cast<std::size_t>(size), 0x5A);
        QCOMPARE(decodeReply(datagram).has_value(), accepted);
    }

    void replyFields_data() {
        QTest::addColumn<Bytes>("datagram");
        QTest::addColumn<int>("portB");
        QTest::addColumn<int>("conversion");
        QTest::newRow("300") << Bytes{0, 0x0A, 0, 0, 0x01, 0x2C, 0, 0} << 0x0A << 300;
        QTest::newRow("largest") << Bytes{9, 0xFF, 9, 9, 0xFF, 0xFF, 9, 9} << 0xFF << 65535;
        QTest::newRow("big-endian") << Bytes{0, 0x00, 0, 0, 0x00, 0x01, 0, 0} << 0x00 << 1;
        const ReplyBytes encoded = encodeReply(0xA5, 300).bytes;  // the board's side of it
        QTest::newRow("encoded") << Bytes(encoded.begin(), encoded.end()) << 0xA5 << 300;
    }
    void replyFields() {
        QFETCH(Bytes, datagram);
        QFETCH(int, portB);
        QFETCH(int, conversion);
        const auto reply = decodeReply(datagram);
        QVERIFY(reply.has_value());
        QCOMPARE(int(reply->portB()), portB);
        QCOMPARE(int(reply->conversion()), conversion);
    }

    // The board's side: everything the panel sends is understood, anything else is refused,
    // and each is named as the logs, the probe and the dissector name it.
    void decodeRequests_data() {
        QTest::addColumn<Bytes>("datagram");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("argument");
        QTest::addColumn<QString>("name");
        QTest::newRow("status") << Bytes{0x00} << true << 0x00 << 0 << "status";
        QTest::newRow("set RB4") << Bytes{0x01, 0x06, 0x04} << true << 0x01 << 4 << "set RB4";
        QTest::newRow("clear RB7") << Bytes{0x02, 0x06, 0x07} << true << 0x02 << 7 << "clear RB7";
        QTest::newRow("read RA3") << Bytes{0x04, 0x99, 0x01} << true << 0x04 << 0x99 << "read RA3";
        QTest::newRow("empty") << Bytes{} << false << 0 << 0 << "empty request";
        QTest::newRow("status too long") << Bytes{0x00, 0x00, 0x00} << false << 0 << 0 << "status";
        QTest::newRow("command 3") << Bytes{0x03, 0x06, 0x02} << false << 0 << 0 << "command 0x03";
        QTest::newRow("command FF") << Bytes{0xFF} << false << 0 << 0 << "command 0xFF";
        QTest::newRow("set short") << Bytes{0x01, 0x06} << false << 0 << 0 << "set";
        QTest::newRow("set port A") << Bytes{0x01, 0x05, 0x02} << false << 0 << 0 << "set RB2";
        QTest::newRow("set input RB1") << Bytes{0x01, 0x06, 0x01} << false << 0 << 0 << "set RB1";
        QTest::newRow("clear bit 8") << Bytes{0x02, 0x06, 0x08} << false << 0 << 0 << "clear RB8";
        QTest::newRow("read alone") << Bytes{0x04} << false << 0 << 0 << "read";
        QTest::newRow("read RA4") << Bytes{0x04, 0xA9, 0x01} << false << 0 << 0 << "read 0xA9";
        QTest::newRow("read tail 0") << Bytes{0x04, 0x81, 0x00} << false << 0 << 0 << "read RA0";
        QTest::newRow("read long")
            << Bytes{0x04, 0x81, 0x01, 0x00} << false << 0 << 0 << "read RA0";
    }
    void decodeRequests() {
        QFETCH(Bytes, datagram);
        QFETCH(bool, valid);
        QFETCH(int, command);
        QFETCH(int, argument);
        QFETCH(QString, name);
        const auto request = decodeRequest(datagram);
        QCOMPARE(request.has_value(), valid);
        if (request) {
            QCOMPARE(int(request->command), command);
            QCOMPARE(int(request->argument), argument);
        }
        QCOMPARE(text(describeRequest(datagram)), name);
    }

    void hexStyle_data() {
        QTest::addColumn<Bytes>("bytes");
        QTest::addColumn<int>("digits");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << Bytes{} << 2 << 16 << "";
        QTest::newRow("request") << Bytes{0x04, 0xA1, 0x01} << 2 << 16 << "04 A1 01";
        QTest::newRow("all shown") << Bytes(3, 0xFF) << 3 << 3 << "0FF 0FF 0FF";
        QTest::newRow("rest counted") << Bytes(5, 0xFF) << 3 << 2 << "0FF 0FF ... (3 more)";
    }
    void hexStyle() {
        QFETCH(Bytes, bytes);
        QFETCH(int, digits);
        QFETCH(int, shown);
        QFETCH(QString, expected);
        QCOMPARE(text(hexText(bytes, digits, std::size_t(shown))), expected);
    }

    void dump_data() {
        QTest::addColumn<Bytes>("reply");
        QTest::addColumn<QString>("expected");
        QTest::newRow("mixed") << Bytes{0x00, 0x0A, 0x00, 0x00, 0x01, 0x2C, 0x00, 0x00}
                               << "000 00A 000 000 001 02C 000 000 ";
        QTest::newRow("all 255") << Bytes(8, 0xFF) << "0FF 0FF 0FF 0FF 0FF 0FF 0FF 0FF ";
        QTest::newRow("upper case") << Bytes{0xAB, 0xCD, 0xEF, 0x10, 0x01, 0x9F, 0xF0, 0x0F}
                                    << "0AB 0CD 0EF 010 001 09F 0F0 00F ";
    }
    void dump() {
        QFETCH(Bytes, reply);
        QFETCH(QString, expected);
        ReplyBytes bytes{};
        std::copy(reply.begin(), reply.end(), bytes.begin());
        const std::string dump = dumpText(bytes);
        QCOMPARE(dump.size(), std::size_t{32});
        QCOMPARE(text(dump), expected);
    }

    void rawReading_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0") << 0 << "0000(0)";
        QTest::newRow("300") << 300 << "012C(300)";
        QTest::newRow("1023") << 1023 << "03FF(1023)";
        QTest::newRow("65535") << 65535 << "FFFF(65535)";
    }
    void rawReading() {
        QFETCH(int, value);
        QFETCH(QString, expected);
        QCOMPARE(text(rawText(static_cast<std::uint16_t>(value))), expected);
    }

    void temperature_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("0 has a leading space") << 0 << QString::fromUtf8(" 0.0 ℃");
        QTest::newRow("1 rounds down") << 1 << QString::fromUtf8(" 0.5 ℃");
        QTest::newRow("51") << 51 << QString::fromUtf8("24.9 ℃");
        QTest::newRow("21 is at width 4") << 21 << QString::fromUtf8("10.3 ℃");
        QTest::newRow("exact half rounds up") << 64 << QString::fromUtf8("31.3 ℃");
        QTest::newRow("1024") << 1024 << QString::fromUtf8("500.0 ℃");
        QTest::newRow("65535 printed whole") << 65535 << QString::fromUtf8("31999.5 ℃");
    }
    void temperature() {
        QFETCH(int, value);
        QFETCH(QString, expected);
        QCOMPARE(text(temperatureText(static_cast<std::uint16_t>(value))), expected);
    }
};

QTEST_GUILESS_MAIN(TestProtocol)
#include "test_protocol.moc"
