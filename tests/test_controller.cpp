// The panel's behaviour against a stand-in window and endpoint, with every byte going through the
// real protocol encoders and reply decoding.
#include <QTest>

#include <memory>

#include "tests/fake_link.h"
#include "tests/fake_view.h"
#include "window/panel_controller.h"

using vardek::panel::PanelController;
using vardek::test::Bytes;
using vardek::test::FakeLink;
using vardek::test::FakeView;
using vardek::test::replyWith;

using Handler = void (PanelController::*)();
Q_DECLARE_METATYPE(Handler)

class TestController : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeView> view;
    std::unique_ptr<FakeLink> link;
    std::unique_ptr<PanelController> panel;

    void deliver(const Bytes& datagram) {
        link->incoming = datagram;
        panel->NMUDP1DataReceived(static_cast<int>(datagram.size()), "127.0.0.1", 10001);
    }

    QStringList sent() const { return link->sentHex(); }

    void clearJournal() {
        link->sent.clear();
        view->journal.clear();
    }

  private slots:
    void init() {
        view = std::make_unique<FakeView>();
        link = std::make_unique<FakeLink>(view->journal);
        panel = std::make_unique<PanelController>(*view, *link);
    }

    void handlersSend_data() {
        QTest::addColumn<Handler>("handler");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("activation") << &PanelController::FormActivate << QStringList{"00"};
        QTest::newRow("poll") << &PanelController::BtnGetStatusClick << QStringList{"00"};
        QTest::newRow("RA0") << &PanelController::BtnRA0Click << QStringList{"04 81 01"};
        QTest::newRow("RA1") << &PanelController::BtnRA1Click << QStringList{"04 89 01"};
        QTest::newRow("RA2") << &PanelController::BtnRA2Click << QStringList{"04 91 01"};
        QTest::newRow("RA3") << &PanelController::BtnRA3Click << QStringList{"04 99 01"};
        QTest::newRow("RA5") << &PanelController::BtnRA5Click << QStringList{"04 A1 01"};
        // The box handlers read the box's new state: all boxes start unchecked here.
        QTest::newRow("RB2 cleared")
            << &PanelController::CheckBoxRB2Click << QStringList{"02 06 02"};
        QTest::newRow("RB7 cleared")
            << &PanelController::CheckBoxRB7Click << QStringList{"02 06 07"};
    }
    void handlersSend() {
        QFETCH(Handler, handler);
        QFETCH(QStringList, expected);
        (panel.get()->*handler)();
        QCOMPARE(sent(), expected);
    }

    void outputBoxFollowsItsState_data() {
        QTest::addColumn<int>("bit");
        QTest::addColumn<Handler>("handler");
        QTest::newRow("RB7") << 7 << &PanelController::CheckBoxRB7Click;
        QTest::newRow("RB6") << 6 << &PanelController::CheckBoxRB6Click;
        QTest::newRow("RB5") << 5 << &PanelController::CheckBoxRB5Click;
        QTest::newRow("RB4") << 4 << &PanelController::CheckBoxRB4Click;
        QTest::newRow("RB3") << 3 << &PanelController::CheckBoxRB3Click;
        QTest::newRow("RB2") << 2 << &PanelController::CheckBoxRB2Click;
    }
    void outputBoxFollowsItsState() {
        QFETCH(int, bit);
        QFETCH(Handler, handler);
        bool& box = view->boxes.at(static_cast<std::size_t>(bit));
        // As the user's click does: the box changes, then its handler runs.
        const auto click = [&] {
            box = !box;
            (panel.get()->*handler)();
        };
        const auto failingClick = [&] {
            link->failSend = [](const Bytes&) { return true; };
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, click());
            link->failSend = nullptr;
        };
        click();
        QVERIFY(box);
        // A command that cannot be sent puts the box back, whichever way it was clicked.
        failingClick();
        QVERIFY(box);
        click();
        QVERIFY(!box);
        failingClick();
        QVERIFY(!box);
        QCOMPARE(sent(), (QStringList{QStringLiteral("01 06 0%1").arg(bit),
                                      QStringLiteral("02 06 0%1").arg(bit)}));
    }

    void replyFillsThePendingChannel_data() {
        QTest::addColumn<Handler>("button");
        QTest::addColumn<int>("edit");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("RA0") << &PanelController::BtnRA0Click << 5 << 300 << "012C(300)";
        QTest::newRow("RA1") << &PanelController::BtnRA1Click << 4 << 0 << "0000(0)";
        QTest::newRow("RA2") << &PanelController::BtnRA2Click << 3 << 1023 << "03FF(1023)";
        QTest::newRow("RA3") << &PanelController::BtnRA3Click << 2 << 65535 << "FFFF(65535)";
        QTest::newRow("RA5") << &PanelController::BtnRA5Click << 1 << 51
                             << QString::fromUtf8("24.9 ℃");
        QTest::newRow("RA5 zero") << &PanelController::BtnRA5Click << 1 << 0
                                  << QString::fromUtf8(" 0.0 ℃");
        QTest::newRow("RA5 widest")
            << &PanelController::BtnRA5Click << 1 << 65535 << QString::fromUtf8("31999.5 ℃");
    }
    void replyFillsThePendingChannel() {
        QFETCH(Handler, button);
        QFETCH(int, edit);
        QFETCH(int, value);
        QFETCH(QString, expected);
        (panel.get()->*button)();
        deliver(replyWith(0, static_cast<std::uint16_t>(value)));
        for (int number = 1; number <= 5; ++number) {
            QCOMPARE(view->edit(number), number == edit ? expected : QString());
        }
        QCOMPARE(panel->pendingADC(), std::uint8_t{0});
    }

    void replyWithNoChannelPendingFillsNoField() {
        deliver(replyWith(0, 300));
        for (int number = 1; number <= 5; ++number) {
            QCOMPARE(view->edit(number), QString());
        }
        QCOMPARE(view->memo, QStringLiteral("000 000 000 000 001 02C 000 000 "));
    }

    void pollReplyIsTakenAsTheChannelsAnswer() {
        panel->BtnRA2Click();
        panel->BtnGetStatusClick();
        deliver(replyWith(0, 0x0111));  // the poll's reply comes first
        QCOMPARE(view->edit(3), QStringLiteral("0111(273)"));
        deliver(Bytes{0x01, 0x03, 0, 0, 0x02, 0x22, 0, 0});  // the channel's own answer
        QCOMPARE(view->edit(3), QStringLiteral("0111(273)"));
        QCOMPARE(view->memo, QStringLiteral("001 003 000 000 002 022 000 000 "));
        QVERIFY(view->boxes[0] && view->boxes[1]);
    }

    void secondChannelButtonOverwritesTheFirst() {
        panel->BtnRA1Click();
        panel->BtnRA2Click();
        QCOMPARE(sent(), (QStringList{"04 89 01", "04 91 01"}));
        deliver(replyWith(0, 10));
        deliver(replyWith(0, 20));
        QCOMPARE(view->edit(3), QStringLiteral("000A(10)"));
        QCOMPARE(view->edit(4), QString());
    }

    void inputBitsFollowEveryReply_data() {
        QTest::addColumn<int>("portB");
        QTest::addColumn<bool>("rb1");
        QTest::addColumn<bool>("rb0");
        QTest::newRow("none") << 0x00 << false << false;
        QTest::newRow("RB0") << 0x01 << false << true;
        QTest::newRow("RB1") << 0x02 << true << false;
        QTest::newRow("both, outputs set too") << 0xFF << true << true;
        QTest::newRow("outputs only") << 0xFC << false << false;
    }
    void inputBitsFollowEveryReply() {
        QFETCH(int, portB);
        QFETCH(bool, rb1);
        QFETCH(bool, rb0);
        view->boxes[0] = view->boxes[1] = true;
        deliver(replyWith(static_cast<std::uint8_t>(portB)));
        QCOMPARE(view->boxes[1], rb1);
        QCOMPARE(view->boxes[0], rb0);
        QCOMPARE(sent(), QStringList{});  // without an activation the outputs are left alone
        for (int bit = 2; bit <= 7; ++bit) {
            QCOMPARE(view->boxes[bit], false);
        }
    }

    void activationSynchronisesTheOutputs_data() {
        QTest::addColumn<int>("checkedBefore");
        QTest::addColumn<int>("portB");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<bool>("statusSendFails");
        QTest::newRow("all set") << 0x00 << 0xFF << QStringList{"01 06 07", "01 06 06", "01 06 05",
                                                                "01 06 04", "01 06 03", "01 06 02"}
                                 << false;
        QTest::newRow("all clear, nothing to do") << 0x00 << 0x00 << QStringList{} << false;
        QTest::newRow("already matching") << 0xA4 << 0xA4 << QStringList{} << false;
        QTest::newRow("mixed, RB7 down to RB2")
            << 0b1001'0100 << 0b0101'1000
            << QStringList{"02 06 07", "01 06 06", "01 06 03", "02 06 02"} << false;
        QTest::newRow("inputs never echoed") << 0x00 << 0x03 << QStringList{} << false;
        // The network was down at activation; the next good reply (a poll's) still synchronises.
        QTest::newRow("status request failed")
            << 0x00 << 0x14 << QStringList{"01 06 04", "01 06 02"} << true;
    }
    void activationSynchronisesTheOutputs() {
        QFETCH(int, checkedBefore);
        QFETCH(int, portB);
        QFETCH(QStringList, commands);
        QFETCH(bool, statusSendFails);
        for (int bit = 2; bit <= 7; ++bit) {
            view->boxes[bit] = (checkedBefore >> bit & 1) != 0;
        }
        if (statusSendFails) {
            link->failSend = [](const Bytes&) { return true; };
            QVERIFY_THROWS_EXCEPTION(std::runtime_error, panel->FormActivate());
            link->failSend = nullptr;
        } else {
            panel->FormActivate();
        }
        QVERIFY(panel->syncPB());
        QCOMPARE(sent(), statusSendFails ? QStringList{} : QStringList{"00"});
        clearJournal();

        deliver(replyWith(static_cast<std::uint8_t>(portB)));
        QCOMPARE(sent(), commands);
        for (int bit = 2; bit <= 7; ++bit) {
            QCOMPARE(view->boxes[bit], (portB >> bit & 1) != 0);
        }
        QVERIFY(!panel->syncPB());
    }

    void synchronisationComesBeforeTheRestOfTheReply() {
        panel->FormActivate();
        clearJournal();
        deliver(replyWith(0x84));
        QCOMPARE(view->journal, (QStringList{"RB7 on", "send 01 06 07", "RB2 on", "send 01 06 02",
                                             "Memo1 000 084 000 000 000 000 000 000 "}));
    }

    void laterRepliesLeaveTheOutputsAlone() {
        panel->FormActivate();
        deliver(replyWith(0x00));
        clearJournal();
        deliver(replyWith(0xFC));
        deliver(replyWith(0xFF));
        QCOMPARE(sent(), QStringList{});
        for (int bit = 2; bit <= 7; ++bit) {
            QCOMPARE(view->boxes[bit], false);
        }
        panel->FormActivate();  // a new activation synchronises again
        deliver(replyWith(0x04));
        QCOMPARE(sent(), (QStringList{"00", "01 06 02"}));
    }

    void wrongSizeIsNotAReply_data() {
        QTest::addColumn<int>("size");
        for (const int size : {0, 1, 7, 9, 65507}) {
            QTest::addRow("%d bytes", size) << size;
        }
    }
    void wrongSizeIsNotAReply() {
        QFETCH(int, size);
        panel->FormActivate();
        panel->BtnRA5Click();
        clearJournal();

        deliver(Bytes(static_cast<std::size_t>(size), 0xFF));
        QCOMPARE(view->journal, QStringList{"message"});
        QCOMPARE(view->lastMessage, QString::fromUtf8("データ数が一致しません"));
        QCOMPARE(view->lastCaption, QString::fromUtf8("受信したデータに誤りがあります"));
        QCOMPARE(panel->pendingADC(), std::uint8_t{0});
        QVERIFY(panel->syncPB());

        // The next good reply still synchronises, and no channel is waiting any more.
        deliver(replyWith(0x08, 51));
        QCOMPARE(sent(), QStringList{"01 06 03"});
        QCOMPARE(view->edit(1), QString());
    }

    void oneWrongSizeMessageAtATime() {
        panel->BtnRA3Click();
        int nestedGood = 0;
        view->whileMessageOpen = [&] {
            for (int i = 0; i < 10'000; ++i) {
                deliver(Bytes(static_cast<std::size_t>(i % 16 == 8 ? 9 : i % 16), 0x11));
                if (i % 1000 == 0) {
                    panel->BtnRA0Click();
                    deliver(replyWith(0x01, static_cast<std::uint16_t>(i)));
                    ++nestedGood;
                }
            }
            panel->BtnRA3Click();  // pressed while the message is still open
        };
        deliver(Bytes(3, 0));
        QCOMPARE(view->messagesShown, 1);
        QCOMPARE(nestedGood, 10);
        // Replies while the message was open were handled in full.
        QCOMPARE(view->edit(5), QStringLiteral("2328(9000)"));
        QCOMPARE(view->memo, QStringLiteral("000 001 000 000 023 028 000 000 "));
        // Closing the message finishes the first datagram's handling.
        QCOMPARE(panel->pendingADC(), std::uint8_t{0});

        view->whileMessageOpen = nullptr;
        deliver(Bytes(7, 0));
        QCOMPARE(view->messagesShown, 2);
    }

    void sendFailureDuringSyncAbandonsTheReply() {
        view->edits[0] = "old";
        view->memo = "old dump";
        panel->FormActivate();
        panel->BtnRA5Click();
        int sends = 0;
        link->failSend = [&](const Bytes&) { return ++sends == 2; };  // RB7 goes, RB6 fails
        link->sent.clear();

        link->incoming = replyWith(0xFF, 51);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 panel->NMUDP1DataReceived(8, "127.0.0.1", 10001));
        QCOMPARE(sent(), QStringList{"01 06 07"});
        QVERIFY(view->boxes[7] && view->boxes[6]);
        for (int bit = 2; bit <= 5; ++bit) {
            QCOMPARE(view->boxes[bit], false);
        }
        QVERIFY(panel->syncPB());
        QCOMPARE(panel->pendingADC(), std::uint8_t{0xA1});
        QCOMPARE(view->memo, QStringLiteral("old dump"));
        QCOMPARE(view->edits[0], QStringLiteral("old"));
        QVERIFY(!view->boxes[0] && !view->boxes[1]);

        // With the network back, the next reply finishes the job.
        link->failSend = nullptr;
        deliver(replyWith(0xFF, 51));
        QCOMPARE(sent(), (QStringList{"01 06 07", "01 06 05", "01 06 04", "01 06 03", "01 06 02"}));
        QCOMPARE(view->edit(1), QString::fromUtf8("24.9 ℃"));
        QVERIFY(!panel->syncPB());
    }

    // A board that misses a poll shows as silent at the next one, and as back at its first
    // datagram. Scripted as a user saw it with the simulator stopped and restarted: a read and
    // a box ticked while the board was down must not leave a reading nobody took, or a box the
    // board does not have.
    void silentBoard_data() {
        QTest::addColumn<QStringList>("script");  // tick, reply, RA0, RB7
        QTest::addColumn<QStringList>("journal");
        QTest::addColumn<bool>("silent");
        QTest::newRow("answering every poll")
            << QStringList{"tick", "reply", "tick", "reply", "tick"}
            << QStringList{"send 00", "Memo1 000 000 000 000 012 034 000 000 ", "send 00",
                           "Memo1 000 000 000 000 012 034 000 000 ", "send 00"}
            << false;
        QTest::newRow("one poll unanswered")
            << QStringList{"tick", "tick", "tick"}
            << QStringList{"send 00", "no response", "send 00", "send 00"} << true;
        QTest::newRow("a read asked before the silence is abandoned")
            << QStringList{"tick", "RA0", "tick", "reply"}
            << QStringList{"send 00", "send 04 81 01", "no response",
                           "send 00", "answering",     "Memo1 000 000 000 000 012 034 000 000 "}
            << false;
        QTest::newRow("a read asked during the silence is abandoned")
            << QStringList{"tick", "tick", "RA0", "reply"}
            << QStringList{"send 00",       "no response", "send 00",
                           "send 04 81 01", "answering",   "Memo1 000 000 000 000 012 034 000 000 "}
            << false;
        // The board came back without RB7: the box follows it, as after an activation.
        QTest::newRow("back: the boxes take the board's outputs")
            << QStringList{"tick", "tick", "RB7", "reply", "RB7"}
            << QStringList{"send 00", "no response",   "send 00",
                           "RB7 on",  "send 01 06 07", "answering",
                           "RB7 off", "send 02 06 07", "Memo1 000 000 000 000 012 034 000 000 ",
                           "RB7 on",  "send 01 06 07"}
            << false;
    }
    void silentBoard() {
        QFETCH(QStringList, script);
        QFETCH(QStringList, journal);
        QFETCH(bool, silent);
        // Activated and synchronised with all outputs clear: the synchronisation is spent.
        panel->FormActivate();
        deliver(replyWith(0x00));
        clearJournal();
        for (const QString& step : script) {
            if (step == "tick") {
                panel->BtnGetStatusClick();
            } else if (step == "reply") {
                deliver(replyWith(0x00, 0x1234));
            } else if (step == "RA0") {
                panel->BtnRA0Click();
            } else if (step == "RB7") {
                view->setChecked(7, !view->isChecked(7));
                panel->CheckBoxRB7Click();
            }
        }
        QCOMPARE(view->journal, journal);
        QCOMPARE(panel->noResponse(), silent);
        QCOMPARE(view->noResponse, silent);
        QCOMPARE(view->edit(5), QString());
        QVERIFY(!panel->syncPB());
    }
};

QTEST_GUILESS_MAIN(TestController)
#include "test_controller.moc"
