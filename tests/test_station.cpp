// vardek-station's window against a fake engine, offscreen, driven by the keyboard alone: every
// key goes to whatever has the focus, as a barcode scanner's and an operator's keys do.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

#include "host/language.h"
#include "tools/station/station_engine.h"
#include "tools/station/station_tile.h"
#include "tools/station/station_window.h"

using namespace vardek::station;

namespace {

// The engine as the window sees it: what it is asked is recorded, what it reports the test
// emits.
class FakeEngine final : public Engine {
  public:
    explicit FakeEngine(int count = 3) {
        for (int slot = 0; slot < count; ++slot) {
            names << QStringLiteral("%1: 127.0.0.%2").arg(slot + 1).arg(slot + 2);
        }
    }

    QStringList slotNames() const override { return names; }
    QStringList rackSerials() const override { return serials; }
    QString serialProblem(const QString& serial) const override {
        return serial.contains(QLatin1Char(' ')) ? QStringLiteral("a serial has no spaces")
                                                 : QString();
    }
    bool testedBefore(const QString& serial) const override { return tested.contains(serial); }
    ShiftFigures shift() const override { return figures; }
    void setOperatorName(const QString& name) override { operatorName = name; }
    bool start(const std::vector<Unit>& units, QString& problem) override {
        ++starts;
        if (!startProblem.isEmpty()) {
            problem = startProblem;
            return false;
        }
        started = units;
        busy = true;
        return true;
    }
    bool running() const override { return busy; }
    void stop() override { ++stops; }
    void answer(bool yes) override { answers.push_back(yes); }

    // The run's end, as check's engine reports it: the units are now tested before.
    void finish() {
        for (const Unit& unit : started) {
            tested << unit.serial;
        }
        busy = false;
        emit finished();
    }

    QStringList names;
    QStringList serials;
    QSet<QString> tested{QStringLiteral("SN0007")};
    ShiftFigures figures;
    QString startProblem;

    QString operatorName;
    int starts = 0;
    std::vector<Unit> started;
    bool busy = false;
    int stops = 0;
    std::vector<bool> answers;
};

QWidget* focused() { return QApplication::focusWidget(); }

// Keys as the keyboard sends them: to the widget with the focus, once a window has it back (a
// dialog gone, the desktop gives it back when it will).
void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTRY_VERIFY(focused());
    QTest::keyClick(focused(), key, modifiers);
}
void type(const QString& text) {
    QTRY_VERIFY(focused());
    QTest::keyClicks(focused(), text);
}
// A barcode scanner: the serial, then Enter.
void scan(const QString& serial) {
    type(serial);
    press(Qt::Key_Return);
}

// The window shown and active, its operator named.
std::unique_ptr<StationWindow> openWindow(FakeEngine& engine) {
    auto window = std::make_unique<StationWindow>(engine);
    window->show();
    if (!QTest::qWaitForWindowActive(window.get())) {
        return nullptr;
    }
    return window;
}

// Whether a label or button shows all of its text: a label that wraps has the height its width
// needs, any other the width and height of its text.
QStringList cutTexts(QWidget* window) {
    QStringList cut;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible()) {
            continue;
        }
        auto* label = qobject_cast<QLabel*>(widget);
        const bool wraps = label && label->wordWrap();
        const QSize needs =
            wraps ? QSize(0, label->heightForWidth(label->width())) : widget->minimumSizeHint();
        if ((label || qobject_cast<QPushButton*>(widget)) &&
            (widget->width() < needs.width() || widget->height() < needs.height())) {
            cut << (label ? label->text() : qobject_cast<QPushButton*>(widget)->text());
        }
    }
    return cut;
}

}  // namespace

class TestStation : public QObject {
    Q_OBJECT

  private slots:
    // The window keeps its sound's setting between runs: here, in a folder of the test's own.
    void initTestCase() {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    }

    // A whole round, keyboard only: the operator's name, three serials scanned (a refused one
    // first), Start by Space, a question answered Y then N, the verdicts with their details kept
    // on screen until a new serial is scanned into their slot, then a second round of the slots
    // that have a serial.
    void operatorRound() {
        FakeEngine engine;
        engine.figures.tested = 41;
        const auto window = openWindow(engine);
        QVERIFY(window);
        QCOMPARE(focused(), window->operatorField());
        press(Qt::Key_Return);
        QCOMPARE(focused(), window->operatorField());  // no record without a name
        scan(QStringLiteral("Aiko Sato"));
        QCOMPARE(engine.operatorName, QStringLiteral("Aiko Sato"));

        QCOMPARE(focused(), window->tile(0)->serialField());
        scan(QStringLiteral("SN 0001"));
        QVERIFY2(window->tile(0)->detail().contains(QStringLiteral("a serial has no spaces")),
                 "the refusal's reason is not on the tile");
        QVERIFY(window->tile(0)->serial().isEmpty());
        QCOMPARE(focused(), window->tile(0)->serialField());
        QCOMPARE(window->tile(0)->serialField()->selectedText(), QStringLiteral("SN 0001"));
        scan(QStringLiteral("SN0001"));  // replaces the selected, refused text
        QCOMPARE(window->tile(0)->serial(), QStringLiteral("SN0001"));
        QVERIFY(!window->tile(0)->retestShown());
        QCOMPARE(focused(), window->tile(1)->serialField());
        scan(QStringLiteral("SN0007"));
        QVERIFY2(window->tile(1)->retestShown(), "a unit tested before is not marked a retest");
        QVERIFY(window->tile(1)->accessibleDescription().contains(QStringLiteral("retest")));
        scan(QStringLiteral("SN0003"));
        QCOMPARE(focused(), window->startButton());

        press(Qt::Key_Space);
        QCOMPARE(engine.started.size(), std::size_t(3));
        for (int slot = 0; slot < 3; ++slot) {
            QCOMPARE(engine.started[std::size_t(slot)].slot, slot);
            QCOMPARE(window->tile(slot)->word(), QStringLiteral("TESTING"));
            QVERIFY(!window->tile(slot)->serialField()->isEnabled());
        }
        QCOMPARE(engine.started[1].serial, QStringLiteral("SN0007"));
        QVERIFY(!window->startButton()->isEnabled());
        emit engine.progressed(0, 3, 12);
        QCOMPARE(window->tile(0)->accessibleDescription(),
                 QStringLiteral("TESTING, 3 of 12 requests"));

        // One answer per question, by its key, never from a loop of the window's own.
        for (const bool yes : {true, false}) {
            emit engine.questionAsked(QStringLiteral("slot 2: RB5 set: is it on?"));
            QTRY_VERIFY(window->questionDialog()->isVisible());
            QTRY_VERIFY(focused() && window->questionDialog()->isAncestorOf(focused()));
            press(yes ? Qt::Key_Y : Qt::Key_N);
            QVERIFY(!window->questionDialog()->isVisible());
            QTest::keyClick(window->questionDialog(), Qt::Key_Y);  // a key too many
        }
        // A Y held from the last answer, repeating, does not answer the next question.
        emit engine.questionAsked(QStringLiteral("slot 3: RB6 set: is it on?"));
        QTRY_VERIFY(focused() && window->questionDialog()->isAncestorOf(focused()));
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Y, Qt::NoModifier, QStringLiteral("y"), true);
        QApplication::sendEvent(focused(), &repeat);
        QVERIFY(window->questionDialog()->isVisible());
        press(Qt::Key_Y);
        QCOMPARE(engine.answers, (std::vector<bool>{true, false, true}));

        emit engine.slotFinished(0, {Verdict::Pass, {}});
        emit engine.slotFinished(1, {Verdict::Fail, QStringLiteral("RB3 stuck at 1")});
        emit engine.problemFound(QStringLiteral("the JUnit report could not be written"));
        emit engine.slotFinished(2, {Verdict::NoAnswer, QStringLiteral("no reply in 3 tries")});
        engine.figures = {44, 42, 0.955, {QStringLiteral("SN0007 RB3 stuck at 1")}, false};
        engine.finish();
        const QStringList words{"PASS", "FAIL", "NO ANSWER"};
        const QStringList details{"", "RB3 stuck at 1", "no reply in 3 tries"};
        for (int slot = 0; slot < 3; ++slot) {
            QCOMPARE(window->tile(slot)->word(), words[slot]);
            QCOMPARE(window->tile(slot)->detail(), details[slot]);
            QVERIFY(window->tile(slot)->accessibleDescription().startsWith(words[slot]));
            QVERIFY(window->tile(slot)->serialField()->isEnabled());
        }
        QVERIFY(window->problems().contains(QStringLiteral("JUnit report")));
        QVERIFY2(window->shiftText().contains(QStringLiteral("44 tested")) &&
                     window->shiftText().contains(QStringLiteral("SN0007 RB3 stuck at 1")) &&
                     window->shiftText().contains(QStringLiteral("since this window started")),
                 qPrintable(window->shiftText()));

        // The next unit into slot 1: its result goes, the others' stay.
        QTRY_COMPARE(focused(), window->tile(0)->serialField());
        press(Qt::Key_Tab);
        scan(QStringLiteral("SN0011"));
        QCOMPARE(window->tile(1)->word(), QStringLiteral("WAITING"));
        QVERIFY(!window->tile(1)->retestShown());
        QCOMPARE(window->tile(0)->word(), QStringLiteral("PASS"));
        QCOMPARE(window->tile(2)->word(), QStringLiteral("NO ANSWER"));
        QCOMPARE(focused(), window->tile(2)->serialField());

        // Only the slot with a new serial is tested: the others still show the last units'
        // serials, which the next boards in them must not be recorded under.
        press(Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(engine.started.size(), std::size_t(1));
        QCOMPARE(engine.started[0].slot, 1);
        QCOMPARE(engine.started[0].serial, QStringLiteral("SN0011"));
        QVERIFY2(window->problems().isEmpty(), "the last run's problems outlived the next run");
        engine.finish();
        QTRY_COMPARE(focused(), window->tile(0)->serialField());
        press(Qt::Key_Tab);
        press(Qt::Key_Tab);
        scan(QStringLiteral("SN0003"));
        QVERIFY2(window->tile(2)->retestShown(), "a unit tested in this window is no retest");
    }

    // A serial refused at entry stays in its field, selected for the next scan, with the reason
    // on the tile; the slot has no serial, so Start will not test it.
    void refusedSerials_data() {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the engine's rules") << "SN 02"
                                            << "a serial has no spaces";
        QTest::newRow("in another slot, untested") << "SN0001"
                                                   << "already scanned into 1:";
        QTest::newRow("blank") << "   "
                               << "Scan the unit's serial";
    }
    void refusedSerials() {
        QFETCH(QString, serial);
        QFETCH(QString, reason);
        FakeEngine engine;
        const auto window = openWindow(engine);
        QVERIFY(window);
        scan(QStringLiteral("Ken"));
        scan(QStringLiteral("SN0001"));
        scan(serial);
        QCOMPARE(focused(), window->tile(1)->serialField());
        QVERIFY2(window->tile(1)->detail().contains(reason), qPrintable(window->tile(1)->detail()));
        QCOMPARE(window->tile(1)->word(), QStringLiteral("WAITING"));
        QCOMPARE(window->tile(1)->serialField()->selectedText(), serial);
        press(Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(engine.started.size(), std::size_t(1));
        QCOMPARE(engine.started[0].slot, 0);
    }

    // Start refused by the window (a slot with no serial) or by the engine: the reason shown in
    // the window, not in a box that waits; the tiles and fields as they were.
    void startRefused_data() {
        QTest::addColumn<QString>("engineProblem");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("starts");
        QTest::newRow("a slot without a serial") << ""
                                                 << "No serial in 3: 127.0.0.4" << 0;
        QTest::newRow("the engine refuses") << "the report folder /srv/reports is read-only"
                                            << "/srv/reports is read-only" << 1;
    }
    void startRefused() {
        QFETCH(QString, engineProblem);
        QFETCH(QString, shown);
        QFETCH(int, starts);
        FakeEngine engine;
        engine.startProblem = engineProblem;
        const auto window = openWindow(engine);
        QVERIFY(window);
        scan(QStringLiteral("Ken"));
        scan(QStringLiteral("SN0001"));
        scan(QStringLiteral("SN0002"));
        if (engineProblem.isEmpty()) {
            press(Qt::Key_Tab);  // past slot 3, to Start
            press(Qt::Key_Tab);
        } else {
            scan(QStringLiteral("SN0003"));
        }
        QCOMPARE(focused(), window->startButton());
        press(Qt::Key_Return);
        QCOMPARE(engine.starts, starts);
        QVERIFY2(window->problems().contains(shown), qPrintable(window->problems()));
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(window->tile(0)->word(), QStringLiteral("WAITING"));
        QVERIFY(window->tile(0)->serialField()->isEnabled());
        QVERIFY(window->startButton()->isEnabled());
    }

    // Closing mid-run stops the run and waits for its end, when the outputs are back; closing
    // when idle just closes.
    void closing_data() {
        QTest::addColumn<bool>("midRun");
        QTest::newRow("idle") << false;
        QTest::newRow("mid-run") << true;
    }
    void closing() {
        QFETCH(bool, midRun);
        FakeEngine engine(1);
        const auto window = openWindow(engine);
        QVERIFY(window);
        scan(QStringLiteral("Ken"));
        scan(QStringLiteral("SN0001"));
        if (midRun) {
            press(Qt::Key_Space);
            QVERIFY(engine.running());
            emit engine.questionAsked(QStringLiteral("slot 1: RB5 set: is it on?"));
            QTRY_VERIFY(focused() && window->questionDialog()->isAncestorOf(focused()));
        }
        // Ctrl+Q even with the question waiting for its answer; asked again, no second stop.
        press(Qt::Key_Q, Qt::ControlModifier);
        if (midRun) {
            QVERIFY(!window->questionDialog()->isVisible());
            press(Qt::Key_Q, Qt::ControlModifier);
        }
        QCOMPARE(engine.stops, midRun ? 1 : 0);
        QCOMPARE(window->isVisible(), midRun);
        if (midRun) {
            QVERIFY(window->problems().contains(QStringLiteral("putting the outputs back")));
            engine.finish();
            QTRY_VERIFY(!window->isVisible());
            QCOMPARE(window->tile(0)->word(), QStringLiteral("STOPPED"));
            QVERIFY(engine.answers.empty());
        }
    }

    // Serials the rack file names are taken as scanned, refused as a scan is: the operator
    // scans only the others.
    void rackSerials() {
        FakeEngine engine;
        engine.serials = {QStringLiteral("SN0007"), QStringLiteral("SN 2"), QString()};
        const auto window = openWindow(engine);
        QVERIFY(window);
        scan(QStringLiteral("Ken"));
        QCOMPARE(window->tile(0)->serial(), QStringLiteral("SN0007"));
        QVERIFY(window->tile(0)->retestShown());
        QVERIFY(window->tile(1)->detail().contains(QStringLiteral("a serial has no spaces")));
        QCOMPARE(focused(), window->tile(1)->serialField());
        scan(QStringLiteral("SN0002"));
        scan(QStringLiteral("SN0003"));
        press(Qt::Key_Space);
        QCOMPARE(engine.started.size(), std::size_t(3));
        QCOMPARE(engine.started[0].serial, QStringLiteral("SN0007"));
    }

    // A new shift's operator, and the sound switched off, by their shortcuts; the sound stays
    // off in the next window.
    void newShift() {
        FakeEngine engine;
        {
            const auto window = openWindow(engine);
            QVERIFY(window);
            scan(QStringLiteral("Ken"));
            QVERIFY(window->soundAction()->isChecked());
            press(Qt::Key_M, Qt::ControlModifier);
            QVERIFY(!window->soundAction()->isChecked());
            press(Qt::Key_N, Qt::ControlModifier);
            QCOMPARE(focused(), window->operatorField());
            QCOMPARE(window->operatorField()->selectedText(), QStringLiteral("Ken"));
            scan(QStringLiteral("Mina"));
            QCOMPARE(engine.operatorName, QStringLiteral("Mina"));
            QCOMPARE(focused(), window->tile(0)->serialField());
        }
        const auto window = openWindow(engine);
        QVERIFY(window);
        QVERIFY2(!window->soundAction()->isChecked(), "the sound's setting was not kept");
    }

    // A 20-slot rack on a 1280 x 800 screen: every tile in view with nothing cut, the
    // verdicts' longest word included, in English and in Japanese. At a scale of 1.5
    // (test_station_1_5x) the tiles may scroll, but still nothing is cut.
    void rackFitsTheScreen_data() {
        QTest::addColumn<QString>("language");
        QTest::newRow("en") << "en";
        QTest::newRow("ja") << "ja";
    }
    void rackFitsTheScreen() {
        QFETCH(QString, language);
        const auto translation =
            vardek::host::translationInto("vardek-station", "en", language.toStdString());
        QVERIFY2(translation.problem.empty(), translation.problem.c_str());
        if (translation.translator) {
            QApplication::installTranslator(translation.translator.get());
        }
        FakeEngine engine(20);
        engine.figures = {500, 480, 0.96, {QStringLiteral("SN0042 RB3 stuck at 1")}, true};
        const auto window = openWindow(engine);
        QVERIFY(window);
        const double scale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                                 ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                                 : 1;
        window->resize(int(1280 / scale), int(760 / scale));  // less the desktop's panel
        scan(QStringLiteral("Ken"));
        for (int slot = 0; slot < 20; ++slot) {
            window->tile(slot)->showResult({slot % 2 ? Verdict::NoAnswer : Verdict::Marginal,
                                            QStringLiteral("RA5 33.0 ℃ marginal, outside 18:32")});
        }
        emit engine.problemFound(QStringLiteral("the results store could not be written"));
        QTest::qWait(0);  // the layouts, from the event loop
        const QStringList cut = cutTexts(window.get());
        if (translation.translator) {
            QApplication::removeTranslator(translation.translator.get());
        }
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral(" | "))));
        if (scale == 1) {
            const auto* area = window->findChild<QScrollArea*>();
            QVERIFY(area);
            QVERIFY2(area->verticalScrollBar()->maximum() == 0 &&
                         area->horizontalScrollBar()->maximum() == 0,
                     "the tiles of a 20-slot rack do not all fit a 1280 x 800 screen");
        }
    }

  private:
    QTemporaryDir config_;
};

QTEST_MAIN(TestStation)
#include "test_station.moc"
