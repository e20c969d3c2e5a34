// The panel's behaviour over the real endpoint, with a loopback socket playing the board.
#include <QTest>

#include <memory>

#include "link/datagram_endpoint.h"
#include "tests/fake_link.h"
#include "tests/fake_view.h"
#include "tests/loopback_board.h"
#include "window/panel_controller.h"

using vardek::link::DatagramEndpoint;
using vardek::link::EndpointConfig;
using vardek::panel::PanelController;
using vardek::test::Bytes;
using vardek::test::FakeView;
using vardek::test::hexAll;
using vardek::test::LoopbackBoard;
using vardek::test::replyWith;

class TestPanelLink : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackBoard> board;
    std::unique_ptr<FakeView> view;
    std::unique_ptr<DatagramEndpoint> endpoint;
    std::unique_ptr<PanelController> panel;
    int datagramsHandled = 0;
    QStringList reported;

    bool waitForHandled(int count) {
        return vardek::test::waitUntil([&] { return datagramsHandled >= count; });
    }

    // What the panel sent since the last call, ended by a sentinel it never sends itself.
    QStringList sent() {
        const Bytes sentinel{0xFF};
        endpoint->SendBuffer(sentinel, 1);
        return hexAll(board->receiveUntil(sentinel));
    }

  private slots:
    void init() {
        reported.clear();
        datagramsHandled = 0;
        board = std::make_unique<LoopbackBoard>();
        view = std::make_unique<FakeView>();
        endpoint = std::make_unique<DatagramEndpoint>(EndpointConfig{"127.0.0.1", board->port()});
        panel = std::make_unique<PanelController>(*view, *endpoint);
        endpoint->OnDataReceived = [this](int size, const std::string& fromIP, int port) {
            ++datagramsHandled;
            panel->NMUDP1DataReceived(size, fromIP, port);
        };
        endpoint->OnError = [this](const std::string& message) {
            reported << QString::fromStdString(message);
        };
    }

    void activationSynchronisesOverTheWire() {
        panel->FormActivate();
        QCOMPARE(sent(), QStringList{"00"});
        board->reply({0x00, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
        QVERIFY(waitForHandled(1));
        QCOMPARE(sent(), (QStringList{"01 06 07", "01 06 06", "01 06 05", "01 06 04", "01 06 03",
                                      "01 06 02"}));
        QCOMPARE(view->boxes,
                 (std::array<bool, 8>{true, true, true, true, true, true, true, true}));
        QCOMPARE(view->memo, QStringLiteral("000 0FF 000 000 000 000 000 000 "));
    }

    // Only the board's address is heard, from whichever port: anyone else could otherwise
    // switch the board's outputs through the synchronisation, or lock the window with messages.
    void onlyTheBoardsAddressIsHeard_data() {
        QTest::addColumn<QString>("sender");
        QTest::addColumn<Bytes>("datagram");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QString>("temperature");
        const QStringList allSet{"01 06 07", "01 06 06", "01 06 05",
                                 "01 06 04", "01 06 03", "01 06 02"};
        QTest::newRow("reply from another address")
            << "127.0.0.9" << replyWith(0xFC, 51) << QStringList{"01 06 02"}
            << QStringLiteral("146.5 ℃");
        QTest::newRow("wrong size from another address")
            << "127.0.0.9" << Bytes(3, 0xFC) << QStringList{"01 06 02"}
            << QStringLiteral("146.5 ℃");
        QTest::newRow("reply from the board's address, another port")
            << "127.0.0.1" << replyWith(0xFC, 51) << allSet << QStringLiteral("24.9 ℃");
    }
    void onlyTheBoardsAddressIsHeard() {
        QFETCH(QString, sender);
        QFETCH(Bytes, datagram);
        QFETCH(QStringList, commands);
        QFETCH(QString, temperature);
        panel->FormActivate();
        panel->BtnRA5Click();
        QCOMPARE(sent(), (QStringList{"00", "04 A1 01"}));

        LoopbackBoard other(sender.toLatin1().constData());
        other.sendTo(endpoint->localPort(), datagram);
        // The board's own reply comes after it; by then the other one was handled or dropped.
        board->reply(replyWith(0x04, 300));
        QVERIFY(vardek::test::waitUntil(
            [&] { return view->memo == QStringLiteral("000 004 000 000 001 02C 000 000 "); }));
        QCOMPARE(sent(), commands);
        QCOMPARE(view->edit(1), temperature);
        QCOMPARE(view->messagesShown, 0);
        QCOMPARE(reported, QStringList{});
    }

    void temperatureReadOverTheWire() {
        panel->BtnRA5Click();
        QCOMPARE(sent(), QStringList{"04 A1 01"});
        board->reply({0x04, 0x00, 0x00, 0x00, 0x00, 0x33, 0x00, 0x00});
        QVERIFY(waitForHandled(1));
        QCOMPARE(view->edit(1), QString::fromUtf8("24.9 ℃"));
        QCOMPARE(panel->pendingADC(), std::uint8_t{0});
    }

    void aBurstOfWrongSizesOpensOneMessage() {
        constexpr int kBurst = 10'000;
        constexpr int kChunk = 100;  // paced, so the socket's buffer never overflows
        QString dumpSeenWhileOpen;
        view->whileMessageOpen = [&] {
            for (int sent = 0; sent < kBurst; sent += kChunk) {
                for (int i = 0; i < kChunk; ++i) {
                    board->sendTo(endpoint->localPort(), Bytes(static_cast<std::size_t>(i % 8), 1));
                }
                QVERIFY(waitForHandled(1 + sent + kChunk));
            }
            board->sendTo(endpoint->localPort(), {0x00, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00});
            QVERIFY(waitForHandled(2 + kBurst));
            dumpSeenWhileOpen = view->memo;
        };
        panel->BtnRA1Click();
        board->sendTo(endpoint->localPort(), Bytes(9, 0));
        QVERIFY(waitForHandled(1));
        QCOMPARE(datagramsHandled, 2 + kBurst);
        QCOMPARE(view->messagesShown, 1);
        QCOMPARE(dumpSeenWhileOpen, QStringLiteral("000 002 000 000 000 007 000 000 "));
        QVERIFY(view->boxes[1]);
        QCOMPARE(panel->pendingADC(), std::uint8_t{0});
        QCOMPARE(reported, QStringList{});
    }
};

QTEST_GUILESS_MAIN(TestPanelLink)
#include "test_panel_link.moc"
