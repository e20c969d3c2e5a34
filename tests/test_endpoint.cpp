// The UDP endpoint over real sockets on loopback.
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <system_error>

#include <sys/socket.h>

#include "link/board_address.h"
#include "link/datagram_endpoint.h"
#include "tests/loopback_board.h"

using vardek::link::DatagramEndpoint;
using vardek::link::EndpointConfig;
using vardek::test::Bytes;
using vardek::test::LoopbackBoard;

namespace {

// One data event as the panel sees it.
struct Arrival {
    int size = 0;
    Bytes read;  // what ReadBuffer gave into an 8-byte buffer
    std::string fromIP;
    int port = 0;
};

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i);
    }
    return bytes;
}

}  // namespace

class TestEndpoint : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackBoard> board;
    std::unique_ptr<DatagramEndpoint> endpoint;
    std::vector<Arrival> arrivals;
    QStringList reported;

    Arrival readArrival(int size, const std::string& fromIP, int port) {
        Bytes buffer(8, 0);
        int count = 0;
        endpoint->ReadBuffer(buffer, count);
        buffer.resize(static_cast<std::size_t>(count));
        return {size, buffer, fromIP, port};
    }

    // Runs the event loop until `count` datagrams have arrived in all, or two seconds pass.
    bool waitForArrivals(std::size_t count) {
        return vardek::test::waitUntil([&] { return arrivals.size() >= count; });
    }

  private slots:
    void init() {
        arrivals.clear();
        reported.clear();
        board = std::make_unique<LoopbackBoard>();
        endpoint = std::make_unique<DatagramEndpoint>(EndpointConfig{"127.0.0.1", board->port()});
        endpoint->OnDataReceived = [this](int size, const std::string& fromIP, int port) {
            arrivals.push_back(readArrival(size, fromIP, port));
        };
        endpoint->OnError = [this](const std::string& message) {
            reported << QString::fromStdString(message);
        };
    }

    void sendsTheFirstCountBytes_data() {
        QTest::addColumn<Bytes>("buffer");
        QTest::addColumn<int>("count");
        QTest::newRow("status") << Bytes{0x00, 0xEE, 0xEE} << 1;
        QTest::newRow("command") << Bytes{0x01, 0x06, 0x02} << 3;
        QTest::newRow("empty") << Bytes{0x00, 0x00, 0x00} << 0;
    }
    void sendsTheFirstCountBytes() {
        QFETCH(Bytes, buffer);
        QFETCH(int, count);
        endpoint->SendBuffer(buffer, count);
        const auto received = board->receive();
        QVERIFY(received.has_value());
        QCOMPARE(*received, Bytes(buffer.begin(), buffer.begin() + count));
        QCOMPARE(board->senderPort(), endpoint->localPort());
    }

    void countBeyondTheBufferIsRefused_data() {
        QTest::addColumn<int>("count");
        QTest::newRow("negative") << -1;
        QTest::newRow("past the end") << 4;
    }
    void countBeyondTheBufferIsRefused() {
        QFETCH(int, count);
        const Bytes buffer{1, 2, 3};
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, endpoint->SendBuffer(buffer, count));
        // Datagrams from one socket arrive in order: the marker comes first if nothing went out.
        endpoint->SendBuffer(buffer, 1);
        QCOMPARE(board->receive(), std::optional<Bytes>(Bytes{1}));
    }

    void everyDatagramRaisesOneEvent_data() {
        QTest::addColumn<int>("size");
        for (const int size : {0, 1, 7, 8, 9, 65507}) {
            QTest::addRow("%d bytes", size) << size;
        }
    }
    void everyDatagramRaisesOneEvent() {
        QFETCH(int, size);
        const Bytes datagram = pattern(static_cast<std::size_t>(size), 0x40);
        board->sendTo(endpoint->localPort(), datagram);
        // A marker after it: loopback keeps their order, so a second event would come first.
        board->sendTo(endpoint->localPort(), Bytes{0xEE});
        QVERIFY(waitForArrivals(2));
        QCOMPARE(arrivals.size(), std::size_t{2});
        QCOMPARE(arrivals[1].size, 1);
        QCOMPARE(arrivals[0].size, size);
        // The buffer's size bounds the copy, whatever the datagram's.
        const std::size_t expected = std::min<std::size_t>(datagram.size(), 8);
        QCOMPARE(arrivals[0].read, Bytes(datagram.begin(), datagram.begin() + expected));
        QCOMPARE(arrivals[0].fromIP, std::string("127.0.0.1"));
        QCOMPARE(arrivals[0].port, int(board->port()));
    }

    void readBufferOutsideAnEventCopiesNothing() {
        Bytes buffer(8, 0xAA);
        int count = 99;
        endpoint->ReadBuffer(buffer, count);
        QCOMPARE(count, 0);
        QCOMPARE(buffer, Bytes(8, 0xAA));
    }

    void unreadDatagramsDoNotHoldUpLaterOnes() {
        int events = 0;
        endpoint->OnDataReceived = [&](int size, const std::string& fromIP, int port) {
            if (++events % 2 == 0) {
                arrivals.push_back(readArrival(size, fromIP, port));
            }
        };
        for (std::uint8_t i = 0; i < 6; ++i) {
            board->sendTo(endpoint->localPort(), pattern(8, std::uint8_t(i * 16)));
        }
        QVERIFY(waitForArrivals(3));
        QCOMPARE(events, 6);
        QCOMPARE(arrivals[0].read, pattern(8, 0x10));
        QCOMPARE(arrivals[2].read, pattern(8, 0x50));
    }

    void nestedLoopsDeliverTheirOwnDatagrams() {
        std::vector<Bytes> nested;
        Bytes outerBefore;
        Bytes outerAfter;
        bool inOuter = false;
        endpoint->OnDataReceived = [&](int size, const std::string&, int) {
            Bytes buffer(8, 0);
            int count = 0;
            endpoint->ReadBuffer(buffer, count);
            if (inOuter) {
                nested.push_back(buffer);
                return;
            }
            inOuter = true;
            outerBefore = buffer;
            // As a modal message does: a nested loop while later datagrams arrive.
            for (std::uint8_t i = 1; i <= 3; ++i) {
                board->sendTo(endpoint->localPort(), pattern(8, std::uint8_t(i * 16)));
            }
            QEventLoop loop;
            QTimer::singleShot(2000, &loop, &QEventLoop::quit);
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (nested.size() == 3) {
                    loop.quit();
                }
            });
            poll.start(1);
            loop.exec();
            endpoint->ReadBuffer(buffer, count);
            outerAfter = buffer;
            QCOMPARE(size, 8);
        };
        board->sendTo(endpoint->localPort(), pattern(8, 0));
        QVERIFY(vardek::test::waitUntil([&] { return !outerAfter.empty(); }));
        QCOMPARE(nested,
                 (std::vector<Bytes>{pattern(8, 0x10), pattern(8, 0x20), pattern(8, 0x30)}));
        QCOMPARE(outerBefore, pattern(8, 0));
        QCOMPARE(outerAfter, pattern(8, 0));
    }

    void aFloodLeavesOtherEventsTheirTurn() {
        constexpr std::size_t kFlood = 120;
        std::size_t deliveredWhenTimerRan = 0;
        bool timerRan = false;
        endpoint->OnDataReceived = [&](int size, const std::string& fromIP, int port) {
            arrivals.push_back(readArrival(size, fromIP, port));
            if (arrivals.size() == 1) {
                // Due at once: it must not wait until the whole flood is handled.
                QTimer::singleShot(0, [&] {
                    timerRan = true;
                    deliveredWhenTimerRan = arrivals.size();
                });
            }
        };
        for (std::size_t i = 0; i < kFlood; ++i) {
            board->sendTo(endpoint->localPort(), pattern(1, std::uint8_t(i)));
        }
        QVERIFY(waitForArrivals(kFlood));
        QVERIFY(timerRan);
        QVERIFY2(deliveredWhenTimerRan < kFlood,
                 qPrintable(QString("the timer waited for all %1 datagrams").arg(kFlood)));
        // Nothing lost and nothing reordered on the way.
        for (std::size_t i = 0; i < kFlood; ++i) {
            QCOMPARE(arrivals[i].read, pattern(1, std::uint8_t(i)));
        }
    }

    void failedSendCarriesTheSystemsReason() {
        DatagramEndpoint refused(EndpointConfig{"127.0.0.1", 0});
        const Bytes status{0x00, 0x00, 0x00};
        try {
            refused.SendBuffer(status, 1);
            QFAIL("a send to port 0 went through");
        } catch (const std::system_error& error) {
            QCOMPARE(error.code().value(), EINVAL);
            QVERIFY2(QString(error.what()).contains(std::strerror(EINVAL)), error.what());
            QVERIFY2(QString(error.what()).contains("127.0.0.1:0"), error.what());
        }
    }

    void broadcastIsNotEnabled() {
        int enabled = -1;
        socklen_t length = sizeof enabled;
        QCOMPARE(
            ::getsockopt(endpoint->socketDescriptor(), SOL_SOCKET, SO_BROADCAST, &enabled, &length),
            0);
        QCOMPARE(enabled, 0);
    }

    void handlerExceptionsAreReportedAndDeliveryGoesOn() {
        endpoint->OnDataReceived = [this](int size, const std::string& fromIP, int port) {
            arrivals.push_back(readArrival(size, fromIP, port));
            if (arrivals.size() == 1) {
                throw std::runtime_error("handler failed");
            }
        };
        board->sendTo(endpoint->localPort(), pattern(8, 1));
        QVERIFY(waitForArrivals(1));
        board->sendTo(endpoint->localPort(), pattern(8, 2));
        QVERIFY(waitForArrivals(2));
        QCOMPARE(reported, QStringList{"handler failed"});
        QCOMPARE(arrivals[1].read, pattern(8, 2));
    }

    void remoteHostMustBeDottedDecimalIPv4_data() {
        QTest::addColumn<QString>("host");
        for (const char* host : {"", "localhost", "127.0.0", "127.0.0.256", "127.0.0.1 ", "::1",
                                 "127.0.0.1:10001", "0x7f.0.0.1"}) {
            QTest::newRow(host) << host;
        }
    }
    void remoteHostMustBeDottedDecimalIPv4() {
        QFETCH(QString, host);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                                 DatagramEndpoint(EndpointConfig{host.toStdString(), 10001}));
    }

    // The one check behind --board, the settings file, the probe and the build's default.
    void boardAddresses_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("problem");  // how the reason starts; empty when accepted
        const QString notDotted = "is not a dotted-decimal";
        const QString thisHost = "is in 0.0.0.0/8";
        const QString multicast = "is a multicast address";
        const QString broadcast = "is a broadcast address";
        const QString reserved = "is in the reserved range";
        // Addresses off loopback are only checked here, never sent to: they stand as numbers, at
        // the edges of the ranges the check knows.
        const auto dotted = [](std::uint32_t address) {
            return QStringLiteral("%1.%2.%3.%4")
                .arg(address >> 24)
                .arg(address >> 16 & 0xFF)
                .arg(address >> 8 & 0xFF)
                .arg(address & 0xFF);
        };
        const QList<std::pair<QString, QString>> rows{
            {"127.0.0.1", ""},
            {"127.0.0.7", ""},
            {dotted(0xC0A80132), ""},  // a board on a private network
            {dotted(0x01000000), ""},  // the first address past 0.0.0.0/8
            {dotted(0xDFFFFFFF), ""},  // the last one below multicast
            {"", notDotted},
            {"localhost", notDotted},
            {"127.0.0.010", notDotted},
            {"127.0.0.256", notDotted},
            {"127.0.0", notDotted},
            {" 127.0.0.1", notDotted},
            {"0.0.0.0", thisHost},
            {dotted(0x00010203), thisHost},
            {dotted(0xE0000001), multicast},
            {dotted(0xEFFFFFFF), multicast},
            {dotted(0xF0000001), reserved},
            {dotted(0xFFFFFFFE), reserved},
            {"255.255.255.255", broadcast},
            // The loopback network's broadcast: a send there fails, after the user was told
            // nothing was wrong.
            {"127.255.255.255", broadcast},
        };
        for (const auto& [address, problem] : rows) {
            QTest::newRow(address.isEmpty() ? "empty" : qPrintable(address)) << address << problem;
        }
    }
    void boardAddresses() {
        QFETCH(QString, address);
        QFETCH(QString, problem);
        const QString reason =
            QString::fromStdString(vardek::link::boardAddressProblem(address.toStdString()));
        if (problem.isEmpty()) {
            QVERIFY2(reason.isEmpty(), qPrintable(reason));
        } else {
            // The reason names what was given, so a message built on it names the value.
            QVERIFY2(reason.startsWith(address + " " + problem) ||
                         reason.startsWith("'" + address + "' " + problem),
                     qPrintable(reason));
        }
    }
};

QTEST_GUILESS_MAIN(TestEndpoint)
#include "test_endpoint.moc"
