// The window's events reaching the controller, end to end: the real window and endpoint, real
// clicks, and a loopback socket playing the board. Runs offscreen.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "link/datagram_endpoint.h"
#include "tests/window_driver.h"
#include "window/Unit1.h"
#include "window/error_box.h"
#include "window/error_report.h"
#include "window/modal_box.h"

using vardek::link::EndpointConfig;
using vardek::panel::ErrorBox;
using vardek::test::Bytes;
using vardek::test::child;
using vardek::test::LoopbackBoard;
using vardek::test::memo;
using vardek::test::openBox;
using vardek::test::replyWith;
using vardek::test::waitUntil;
using vardek::test::WindowLanguage;

namespace {

// Runs the events already queued, closing any box that opens meanwhile; returns how many did.
int boxesOpenedWhileEventsRun() {
    const vardek::test::BoxCloser closer;
    QCoreApplication::processEvents();
    return closer.closed();
}

int visibleBoxes() {
    int count = 0;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        count += qobject_cast<const QMessageBox*>(widget) && widget->isVisible() ? 1 : 0;
    }
    return count;
}

// Steps run one after another from a timer, each retried until it returns true. A timer also
// fires inside a modal box's nested event loop, where the test's own code is suspended.
class ModalScript {
  public:
    explicit ModalScript(std::vector<std::function<bool()>> steps) : steps_(std::move(steps)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (next_ < steps_.size() && steps_[next_]()) {
                ++next_;
            }
        });
        timer_.start(10);
    }

    bool finished() const { return next_ == steps_.size(); }

  private:
    std::vector<std::function<bool()>> steps_;
    std::size_t next_ = 0;
    QTimer timer_;
};

}  // namespace

using vardek::test::nextRequest;
using vardek::test::requestsUntilSentinel;
using vardek::test::windowPort;

class TestWindowBindings : public QObject {
    Q_OBJECT

    std::unique_ptr<LoopbackBoard> board;
    std::unique_ptr<ErrorBox> errorBox;
    std::unique_ptr<TVARDEK_Ctrl> window;
    int errorsReported = 0;

    QTimer* timer1() const { return window->findChild<QTimer*>("Timer1"); }

    void createWindow(std::uint16_t boardPort) {
        window.reset();
        window = std::make_unique<TVARDEK_Ctrl>(EndpointConfig{"127.0.0.1", boardPort});
        // Ticks are raised by hand below, so none comes in the middle of an exchange.
        timer1()->stop();
    }

    // Shows the window and answers its first status request with all pins clear, so the boxes
    // start unchecked and the synchronisation is spent.
    bool showAndSynchronise() {
        window->show();
        if (!QTest::qWaitForWindowActive(window.get()) || nextRequest(*board) != "00") {
            return false;
        }
        board->reply(replyWith(0x00));
        return waitUntil([&] { return !memo(*window).isEmpty(); });
    }

  private slots:
    void init() {
        window.reset();
        errorBox.reset();
        errorBox = std::make_unique<ErrorBox>();
        errorsReported = 0;
        vardek::setErrorReporter([this](const std::string& message) {
            ++errorsReported;
            errorBox->report(message);
        });
        board = std::make_unique<LoopbackBoard>();
        createWindow(board->port());
    }

    void firstActivationSynchronisesTheOutputs() {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(nextRequest(*board), QStringLiteral("00"));

        board->reply(replyWith(0xFF));
        QStringList sent;
        for (int i = 0; i < 6; ++i) {
            sent << nextRequest(*board);
        }
        QCOMPARE(sent, (QStringList{"01 06 07", "01 06 06", "01 06 05", "01 06 04", "01 06 03",
                                    "01 06 02"}));
        QVERIFY(waitUntil([&] { return !memo(*window).isEmpty(); }));
        QCOMPARE(memo(*window), QStringLiteral("000 0FF 000 000 000 000 000 000 "));
        for (int bit = 0; bit <= 7; ++bit) {
            QVERIFY2(
                child<QCheckBox>(*window, QStringLiteral("CheckBoxRB%1").arg(bit))->isChecked(),
                qPrintable(QStringLiteral("RB%1").arg(bit)));
        }
        // One activation, one status request: nothing else went out.
        QCOMPARE(requestsUntilSentinel(*board, *window), QStringList{});
    }

    void laterRepliesLeaveTheOutputsAlone() {
        QVERIFY(showAndSynchronise());
        board->reply(replyWith(0xFF, 1));
        QVERIFY(waitUntil([&] { return memo(*window).startsWith("000 0FF"); }));
        for (int bit = 2; bit <= 7; ++bit) {
            QVERIFY(
                !child<QCheckBox>(*window, QStringLiteral("CheckBoxRB%1").arg(bit))->isChecked());
        }
        QVERIFY(child<QCheckBox>(*window, "CheckBoxRB1")->isChecked());
        QVERIFY(child<QCheckBox>(*window, "CheckBoxRB0")->isChecked());
        QCOMPARE(requestsUntilSentinel(*board, *window), QStringList{});
    }

    void outputBoxClicks_data() {
        QTest::addColumn<int>("bit");
        for (int bit = 2; bit <= 7; ++bit) {
            QTest::addRow("RB%d", bit) << bit;
        }
    }
    void outputBoxClicks() {
        QFETCH(int, bit);
        QVERIFY(showAndSynchronise());
        auto* box = child<QCheckBox>(*window, QStringLiteral("CheckBoxRB%1").arg(bit));
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        QCOMPARE(nextRequest(*board), QStringLiteral("01 06 0%1").arg(bit));
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(!box->isChecked());
        QCOMPARE(nextRequest(*board), QStringLiteral("02 06 0%1").arg(bit));
    }

    void inputBoxesCannotBeClicked() {
        QVERIFY(showAndSynchronise());
        for (const QString name : {"CheckBoxRB0", "CheckBoxRB1"}) {
            QTest::mouseClick(child<QCheckBox>(*window, name), Qt::LeftButton);
            QVERIFY(!child<QCheckBox>(*window, name)->isChecked());
        }
        QCOMPARE(requestsUntilSentinel(*board, *window), QStringList{});
    }

    // Pressed with the mouse, or by keyboard once focused: Return and Enter as well as Space.
    void channelButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("shown");
        const int mouse = 0;
        QTest::newRow("RA5") << "BtnRA5" << mouse << "04 A1 01"
                             << "Edit1" << QStringLiteral("146.5 ℃");
        QTest::newRow("RA3") << "BtnRA3" << int(Qt::Key_Return) << "04 99 01"
                             << "Edit2"
                             << "012C(300)";
        QTest::newRow("RA2") << "BtnRA2" << int(Qt::Key_Enter) << "04 91 01"
                             << "Edit3"
                             << "012C(300)";
        QTest::newRow("RA1") << "BtnRA1" << int(Qt::Key_Space) << "04 89 01"
                             << "Edit4"
                             << "012C(300)";
        QTest::newRow("RA0") << "BtnRA0" << mouse << "04 81 01"
                             << "Edit5"
                             << "012C(300)";
    }
    void channelButtons() {
        QFETCH(QString, button);
        QFETCH(int, key);
        QFETCH(QString, request);
        QFETCH(QString, field);
        QFETCH(QString, shown);
        QVERIFY(showAndSynchronise());

        auto* pushButton = child<QPushButton>(*window, button);
        if (key == 0) {
            QTest::mouseClick(pushButton, Qt::LeftButton);
        } else {
            pushButton->setFocus();
            QTest::keyClick(pushButton, Qt::Key(key));
        }
        QCOMPARE(nextRequest(*board), request);
        board->reply(replyWith(0x00, 300));
        QVERIFY(waitUntil([&] { return !child<QLineEdit>(*window, field)->text().isEmpty(); }));
        QCOMPARE(child<QLineEdit>(*window, field)->text(), shown);
        for (int index = 1; index <= 5; ++index) {
            const QString other = QStringLiteral("Edit%1").arg(index);
            if (other != field) {
                QVERIFY2(child<QLineEdit>(*window, other)->text().isEmpty(), qPrintable(other));
            }
        }
    }

    void tickPolls() {
        QVERIFY(showAndSynchronise());
        QVERIFY(QMetaObject::invokeMethod(timer1(), "timeout"));
        QCOMPARE(nextRequest(*board), QStringLiteral("00"));
        QVERIFY(QMetaObject::invokeMethod(child<QPushButton>(*window, "BtnGetStatus"), "click"));
        QCOMPARE(nextRequest(*board), QStringLiteral("00"));
    }

    void everyActivationSynchronisesAgain() {
        QVERIFY(showAndSynchronise());
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(nextRequest(*board), QStringLiteral("00"));
        board->reply(replyWith(0x84));
        QCOMPARE(nextRequest(*board), QStringLiteral("01 06 07"));
        QCOMPARE(nextRequest(*board), QStringLiteral("01 06 02"));
    }

    // The reply that comes while the message is open is handled at once, not after it closes.
    // Its texts are Japanese, and English on request.
    void wrongSizedDatagramShowsTheMessage_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("expectedText");
        QTest::addColumn<QString>("expectedTitle");
        QTest::newRow("ja") << "ja" << QStringLiteral("データ数が一致しません")
                            << QStringLiteral("受信したデータに誤りがあります");
        QTest::newRow("en") << "en"
                            << "The number of data bytes does not match"
                            << "The received data contains an error";
    }
    void wrongSizedDatagramShowsTheMessage() {
        QFETCH(QString, language);
        QFETCH(QString, expectedText);
        QFETCH(QString, expectedTitle);
        const WindowLanguage spoken(language.toStdString());
        createWindow(board->port());
        QVERIFY(showAndSynchronise());
        QString text, title;
        int captionRoom = 0;
        QMessageBox::Icon icon = QMessageBox::Critical;
        QMessageBox::StandardButtons buttons;
        bool dumpUpdatedWhileOpen = false;
        const Bytes late = replyWith(0x00, 0x0102);
        ModalScript script({
            [&] {
                QMessageBox* box = openBox();
                if (!box) {
                    return false;
                }
                text = box->text();
                title = box->windowTitle();
                icon = box->icon();
                buttons = box->standardButtons();
                captionRoom = box->width() - QFontMetrics(window->font()).horizontalAdvance(title);
                board->sendTo(windowPort(*window), late);
                return true;
            },
            [&] {
                if (!memo(*window).startsWith("000 000 000 000 001 002")) {
                    return false;
                }
                dumpUpdatedWhileOpen = openBox() != nullptr;
                QTest::mouseClick(openBox()->button(QMessageBox::Ok), Qt::LeftButton);
                return true;
            },
        });
        board->sendTo(windowPort(*window), Bytes(7, 0xEE));
        QVERIFY(waitUntil([&] { return script.finished(); }));

        QCOMPARE(text, expectedText);
        QCOMPARE(title, expectedTitle);
        QCOMPARE(icon, QMessageBox::NoIcon);
        QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(dumpUpdatedWhileOpen);
        // Beside the whole caption, room for the icon and three buttons of a 24-pixel title bar.
        QVERIFY2(captionRoom >= 4 * 24, qPrintable(QString::number(captionRoom)));
        // Focus coming back from the message is no new activation.
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(requestsUntilSentinel(*board, *window), QStringList{});
    }

    // Whatever their kind, the program's boxes never stack: what would open a second one while
    // one is open shows nothing.
    void oneBoxAtATime_data() {
        QTest::addColumn<bool>("errorFirst");
        QTest::newRow("error box, then a wrong-sized datagram") << true;
        QTest::newRow("wrong-size message, then a failed send") << false;
    }
    void oneBoxAtATime() {
        QFETCH(bool, errorFirst);
        // Port 0 is refused by the kernel: every send fails.
        createWindow(0);
        const std::function<void()> failSend = [&] {
            QMetaObject::invokeMethod(timer1(), "timeout");
        };
        const std::function<void()> sendWrongSize = [&] {
            board->sendTo(windowPort(*window), Bytes(7, 0xEE));
            // Datagrams are handled in order: once this one shows, the wrong-sized one was handled.
            board->sendTo(windowPort(*window), replyWith(0x00, 0x0102));
        };
        QString firstTitle;
        int mostBoxesOpen = 0;
        ModalScript script({
            [&] {
                if (!openBox()) {
                    return false;
                }
                firstTitle = openBox()->windowTitle();
                (errorFirst ? sendWrongSize : failSend)();
                return true;
            },
            [&] {
                mostBoxesOpen = std::max(mostBoxesOpen, visibleBoxes());
                if (!memo(*window).startsWith("000 000 000 000 001 002") || errorsReported == 0) {
                    return false;
                }
                QTest::mouseClick(openBox()->button(QMessageBox::Ok), Qt::LeftButton);
                return true;
            },
        });
        (errorFirst ? failSend : sendWrongSize)();
        QVERIFY(waitUntil([&] { return script.finished(); }));
        QCOMPARE(firstTitle == QStringLiteral("受信したデータに誤りがあります"), !errorFirst);
        QCOMPARE(errorsReported, 1);
        QCOMPARE(mostBoxesOpen, 1);
        QCOMPARE(visibleBoxes(), 0);
    }

    void sendFailureShowsOneErrorBoxAndPollingGoesOn() {
        // Port 0 is refused by the kernel: every send fails.
        createWindow(0);
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        int mostBoxesOpen = 0;
        ModalScript firstBox({[&] {
            QMessageBox* box = openBox();
            if (!box) {
                return false;
            }
            text = box->text();
            icon = box->icon();
            // Two more failed polls while the box is open.
            QMetaObject::invokeMethod(timer1(), "timeout");
            QMetaObject::invokeMethod(timer1(), "timeout");
            mostBoxesOpen = visibleBoxes();
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            return true;
        }});
        window->show();
        QVERIFY(waitUntil([&] { return firstBox.finished(); }));
        QVERIFY(text.contains("cannot send to 127.0.0.1:0"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(errorsReported, 3);
        QCOMPARE(mostBoxesOpen, 1);
        // Closing the box reactivates the window without raising another failed request.
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(boxesOpenedWhileEventsRun(), 0);
        QCOMPARE(errorsReported, 3);
        QVERIFY(!vardek::panel::modalBoxOpen());

        bool nextBoxShown = false;
        ModalScript nextBox({[&] {
            QMessageBox* box = openBox();
            if (!box) {
                return false;
            }
            nextBoxShown = true;
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            return true;
        }});
        QVERIFY(QMetaObject::invokeMethod(timer1(), "timeout"));
        QVERIFY(waitUntil([&] { return nextBox.finished(); }, 10000));
        QVERIFY(nextBoxShown);
        QCOMPARE(errorsReported, 4);
    }

    // A failed poll's box opens after the tick's handler has returned: inside it, Qt would not
    // run the timer again until the user closed the box, so polls would stop, also once the
    // network is back.
    void pollsGoOnWhileTheErrorBoxIsOpen() {
        // Port 0 is refused by the kernel: every send fails.
        createWindow(0);
        int errorsWhileOpen = 0;
        ModalScript script({[&] {
            QMessageBox* box = openBox();
            if (!box || errorsReported < 4) {
                return false;
            }
            errorsWhileOpen = errorsReported;
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
            return true;
        }});
        timer1()->start(20);
        window->show();
        QVERIFY(waitUntil([&] { return script.finished(); }, 10000));
        QVERIFY2(errorsWhileOpen >= 4, qPrintable(QString::number(errorsWhileOpen)));
    }

    // One poll unanswered, and the window shows the board as silent, in the language it speaks;
    // its first reply shows it back. Polls come every 100 ms here.
    void silentBoardShowsAndComesBack_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("silent");
        QTest::addColumn<QString>("description");
        QTest::newRow("ja") << "ja" << QStringLiteral(" — 応答なし")
                            << QStringLiteral("応答なし: 最後の応答は ");
        QTest::newRow("en") << "en" << QStringLiteral(" — no response")
                            << "No response: the last reply came at ";
    }
    void silentBoardShowsAndComesBack() {
        QFETCH(QString, language);
        QFETCH(QString, silent);
        QFETCH(QString, description);
        const WindowLanguage spoken(language.toStdString());
        createWindow(board->port());
        QVERIFY(showAndSynchronise());
        const QString answering = window->windowTitle();
        auto* dump = child<QPlainTextEdit>(*window, "Memo1");
        const QColor current = dump->palette().color(QPalette::Text);
        const QString lastDump = memo(*window);
        timer1()->start(100);
        QStringList requests;
        QVERIFY(waitUntil(
            [&] {
                if (const auto datagram = board->receive(10)) {
                    requests << vardek::test::hex(*datagram);
                }
                return window->windowTitle() != answering;
            },
            10000));
        QCOMPARE(window->windowTitle(), answering + silent);
        QCOMPARE(memo(*window), lastDump);
        QCOMPARE(dump->palette().color(QPalette::Text),
                 dump->palette().color(QPalette::Disabled, QPalette::Text));
        QVERIFY2(QRegularExpression(
                     QRegularExpression::anchoredPattern(QRegularExpression::escape(description) +
                                                         "\\d\\d:\\d\\d:\\d\\d"))
                     .match(dump->accessibleDescription())
                     .hasMatch(),
                 qPrintable(dump->accessibleDescription()));
        // Nothing but the polls went out, and no box opened.
        QCOMPARE(requests, QStringList(requests.size(), "00"));
        QVERIFY(!openBox());

        timer1()->stop();
        board->reply(replyWith(0x00, 0x1234));
        QVERIFY(waitUntil([&] { return window->windowTitle() == answering; }));
        QVERIFY(waitUntil([&] { return memo(*window).startsWith("000 000 000 000 012 034"); }));
        QCOMPARE(dump->palette().color(QPalette::Text), current);
        QCOMPARE(dump->accessibleDescription(), QString());
    }
};

QTEST_MAIN(TestWindowBindings)
#include "test_window_bindings.moc"
