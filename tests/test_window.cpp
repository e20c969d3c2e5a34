// The control window as built from its description: every widget, the window's own properties
// and its non-visual parts. Runs offscreen.
#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QFontInfo>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRawFont>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>

#include <memory>

#include "link/datagram_endpoint.h"
#include "tests/loopback_board.h"
#include "tests/window_driver.h"
#include "window/Unit1.h"

using vardek::link::DatagramEndpoint;
using vardek::link::EndpointConfig;
using vardek::test::LoopbackBoard;
using vardek::test::WindowLanguage;

namespace {

// What a widget shows: a label's text, a frame's title, a button's caption, a field's text.
QString caption(const QWidget* widget) {
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return group->title();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        return button->text();
    }
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        return edit->text();
    }
    if (const auto* memo = qobject_cast<const QPlainTextEdit*>(widget)) {
        return memo->toPlainText();
    }
    return QStringLiteral("<no caption>");
}

// The room that a widget gives its caption, as it draws it.
int captionRoom(const QWidget* widget) {
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        // The caption stands on the border, set in and padded by a character's width each side.
        return group->width() - 1 - 2 * QFontMetrics(group->font()).averageCharWidth();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        const bool box = qobject_cast<const QCheckBox*>(button);
        return button->style()
            ->subElementRect(box ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                             &option, button)
            .width();
    }
    return widget->contentsRect().width();
}

// Tabbing goes through one chain in Qt: the frame's boxes come where the frame stands.
const QStringList kTabOrder{"CheckBoxRB7",  "CheckBoxRB6", "CheckBoxRB5", "CheckBoxRB4",
                            "CheckBoxRB3",  "CheckBoxRB2", "CheckBoxRB1", "Memo1",
                            "BtnGetStatus", "CheckBoxRB0", "BtnRA5",      "BtnRA3",
                            "BtnRA2",       "BtnRA1",      "BtnRA0",      "Edit1",
                            "Edit2",        "Edit3",       "Edit4",       "Edit5"};

}  // namespace

class TestWindow : public QObject {
    Q_OBJECT

    LoopbackBoard board;
    std::unique_ptr<TVARDEK_Ctrl> window;

    QWidget* widget(const QString& name) const { return window->findChild<QWidget*>(name); }

  private slots:
    void init() {
        window.reset();
        // The board here never answers: what a shown window sends only has to go somewhere.
        window = std::make_unique<TVARDEK_Ctrl>(EndpointConfig{"127.0.0.1", board.port()});
    }

    void widgets_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("hidden");
        // What a screen reader announces for it.
        QTest::addColumn<QString>("accessibleName");

        const auto row = [](const char* name, const char* kind, const char* parent, QRect geometry,
                            const QString& caption, bool enabled = true, bool hidden = false,
                            const QString& accessibleName = {}) {
            QTest::newRow(name) << QString(kind) << QString(parent) << geometry << caption
                                << enabled << hidden
                                << (accessibleName.isEmpty() ? caption : accessibleName);
        };
        // The label mixes a full-width opening parenthesis with an ASCII closing one.
        row("Label1", "QLabel", "VARDEK_Ctrl", {136, 8, 117, 12},
            QStringLiteral("ポートＡ\uFF08アナログ入力)"));
        row("GroupBox", "QGroupBox", "VARDEK_Ctrl", {8, 8, 89, 209}, QStringLiteral("ポートＢ"));
        row("CheckBoxRB7", "QCheckBox", "GroupBox", {24, 16, 50, 17}, "RB7");
        row("CheckBoxRB6", "QCheckBox", "GroupBox", {24, 40, 50, 17}, "RB6");
        row("CheckBoxRB5", "QCheckBox", "GroupBox", {24, 64, 50, 17}, "RB5");
        row("CheckBoxRB4", "QCheckBox", "GroupBox", {24, 88, 50, 17}, "RB4");
        row("CheckBoxRB3", "QCheckBox", "GroupBox", {24, 112, 50, 17}, "RB3");
        row("CheckBoxRB2", "QCheckBox", "GroupBox", {24, 136, 50, 17}, "RB2");
        row("CheckBoxRB1", "QCheckBox", "GroupBox", {24, 160, 50, 17}, "RB1", false);
        row("Memo1", "QPlainTextEdit", "VARDEK_Ctrl", {104, 224, 265, 41}, "", true, false,
            QStringLiteral("受信データ"));
        row("BtnGetStatus", "QPushButton", "VARDEK_Ctrl", {16, 232, 75, 25}, "Status", true, true);
        row("CheckBoxRB0", "QCheckBox", "VARDEK_Ctrl", {32, 192, 50, 17}, "RB0", false);
        row("BtnRA5", "QPushButton", "VARDEK_Ctrl", {144, 32, 75, 25}, "Get RA5");
        row("BtnRA3", "QPushButton", "VARDEK_Ctrl", {144, 64, 75, 25}, "Get RA3");
        row("BtnRA2", "QPushButton", "VARDEK_Ctrl", {144, 96, 75, 25}, "Get RA2");
        row("BtnRA1", "QPushButton", "VARDEK_Ctrl", {144, 128, 75, 25}, "Get RA1");
        row("BtnRA0", "QPushButton", "VARDEK_Ctrl", {144, 160, 75, 25}, "Get RA0");
        row("Edit1", "QLineEdit", "VARDEK_Ctrl", {224, 34, 121, 20}, "", true, false,
            QStringLiteral("RA5 ℃"));
        row("Edit2", "QLineEdit", "VARDEK_Ctrl", {224, 66, 121, 20}, "", true, false, "RA3");
        row("Edit3", "QLineEdit", "VARDEK_Ctrl", {224, 98, 121, 20}, "", true, false, "RA2");
        row("Edit4", "QLineEdit", "VARDEK_Ctrl", {224, 130, 121, 20}, "", true, false, "RA1");
        row("Edit5", "QLineEdit", "VARDEK_Ctrl", {224, 162, 121, 20}, "", true, false, "RA0");
    }
    void widgets() {
        QFETCH(QString, kind);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        QFETCH(bool, enabled);
        QFETCH(bool, hidden);
        QFETCH(QString, accessibleName);

        QWidget* found = widget(QTest::currentDataTag());
        QVERIFY(found);
        QCOMPARE(found->metaObject()->className(), kind);
        QCOMPARE(found->parentWidget()->objectName(), parent);
        QCOMPARE(found->geometry(), geometry);
        QCOMPARE(::caption(found), caption);
        QCOMPARE(found->isEnabled(), enabled);
        QCOMPARE(found->isHidden(), hidden);
        const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(found);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), accessibleName);
        if (accessibleName != caption) {
            // What the field holds is no caption: say what it is.
            QVERIFY(!accessible->text(QAccessible::Description).isEmpty());
        }
        if (const auto* box = qobject_cast<const QCheckBox*>(found)) {
            QVERIFY(!box->isChecked());
            QVERIFY(!box->isTristate());
        }
    }

    // On request, the window speaks English, to screen readers too.
    void englishTexts_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("accessibleName");
        QTest::addColumn<QString>("accessibleDescription");
        QTest::newRow("Label1") << "Port A (analog input)"
                                << "Port A (analog input)"
                                << "";
        QTest::newRow("GroupBox") << "Port B"
                                  << "Port B"
                                  << "";
        QTest::newRow("Memo1") << ""
                               << "Received data"
                               << "The 8 bytes received from the board, in hexadecimal";
        QTest::newRow("Edit1") << "" << QStringLiteral("RA5 ℃")
                               << QStringLiteral("The temperature at RA5 (℃)");
        QTest::newRow("Edit5") << ""
                               << "RA0"
                               << "The conversion result of RA0 (hexadecimal and decimal)";
    }
    void englishTexts() {
        QFETCH(QString, caption);
        QFETCH(QString, accessibleName);
        QFETCH(QString, accessibleDescription);
        const WindowLanguage english("en");
        window = std::make_unique<TVARDEK_Ctrl>(EndpointConfig{"127.0.0.1", board.port()});
        QWidget* found = widget(QTest::currentDataTag());
        QCOMPARE(::caption(found), caption);
        const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(found);
        QCOMPARE(accessible->text(QAccessible::Name), accessibleName);
        QCOMPARE(accessible->text(QAccessible::Description), accessibleDescription);
    }

    // Translated captions, English ones wider than the Japanese, stand in the same fixed
    // geometry: none may be cut, in any language the window is given. test_window_2x runs this
    // at a scale of 2, where the font's hinting differs.
    void translatedCaptionsFitTheirWidgets_data() {
        QTest::addColumn<QString>("language");
        const QString prefix = QStringLiteral("VARDEK_Control_");
        const QStringList translations =
            QDir(QStringLiteral(":/i18n")).entryList({prefix + QStringLiteral("*.qm")});
        QVERIFY(translations.contains(prefix + QStringLiteral("en.qm")));
        for (const QString& file : translations) {
            const QString language = file.mid(prefix.size()).chopped(3);
            QTest::newRow(qPrintable(language)) << language;
        }
    }
    void translatedCaptionsFitTheirWidgets() {
        QFETCH(QString, language);
        const WindowLanguage spoken(language.toStdString());
        window = std::make_unique<TVARDEK_Ctrl>(EndpointConfig{"127.0.0.1", board.port()});
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const int ratio = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                              ? qEnvironmentVariableIntValue("QT_SCALE_FACTOR")
                              : 1;
        QCOMPARE(window->devicePixelRatio(), ratio);
        int measured = 0;
        for (const QWidget* found : window->findChildren<QWidget*>()) {
            const QString text = ::caption(found);
            if (found->objectName().isEmpty() || text.isEmpty() || text == "<no caption>") {
                continue;
            }
            // In the screen's pixels: at a scale of 2 the font is set at twice its size, where its
            // hinting differs.
            QFont drawn = found->font();
            drawn.setPixelSize(drawn.pixelSize() * ratio);
            const int width = QFontMetrics(drawn).horizontalAdvance(text);
            const int room = captionRoom(found) * ratio;
            QVERIFY2(width <= room, qPrintable(QStringLiteral("%1: \"%2\" takes %3 of %4 pixels")
                                                   .arg(found->objectName(), text)
                                                   .arg(width)
                                                   .arg(room)));
            ++measured;
        }
        // Label1, GroupBox, the eight port B boxes and the six buttons.
        QCOMPARE(measured, 16);
    }

    // A language is one with a translation, or the source language; named as a locale is.
    void languages_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<bool>("translated");
        QTest::addColumn<QString>("problem");
        QTest::newRow("English") << "en" << true << "";
        QTest::newRow("British English, as English") << "en_GB" << true << "";
        QTest::newRow("Japanese, the source texts") << "ja_JP" << false << "";
        QTest::newRow("no translation")
            << "de" << false << "'de' has no translation (there are ja, en)";
        QTest::newRow("no language")
            << "English" << false << "'English' has no translation (there are ja, en)";
    }
    void languages() {
        QFETCH(QString, language);
        QFETCH(bool, translated);
        QFETCH(QString, problem);
        const auto translation = TVARDEK_Ctrl::translationInto(language.toStdString());
        QCOMPARE(translation.translator != nullptr, translated);
        QCOMPARE(QString::fromStdString(translation.problem), problem);
    }

    // The frame's top border runs through the middle of its caption, clear of the boxes inside.
    void frameCaptionSitsOnTheBorder() {
        const auto* frame = window->findChild<QGroupBox*>("GroupBox");
        QImage image(frame->size(), QImage::Format_RGB32);
        const QColor blank(Qt::magenta);
        image.fill(blank);
        // The frame alone: no background, no boxes.
        const_cast<QGroupBox*>(frame)->render(&image, {}, {}, QWidget::RenderFlags());
        // Right of the caption, the first row drawn is the top border.
        const int x = frame->width() - 6;
        int border = 0;
        while (border < image.height() && image.pixelColor(x, border) == blank) {
            ++border;
        }
        const int captionHeight = QFontMetrics(frame->font()).height();
        QVERIFY2(qAbs(border - captionHeight / 2) <= 1, qPrintable(QString::number(border)));
        QVERIFY(border < widget("CheckBoxRB7")->y());
    }

    void tabOrder() {
        QStringList chain;
        QWidget* current = window.get();
        do {
            current = current->nextInFocusChain();
            if (kTabOrder.contains(current->objectName())) {
                chain << current->objectName();
            }
        } while (current != window.get());
        QCOMPARE(chain, kTabOrder);
    }

    void tabFromMemoSkipsTheHiddenAndDisabled() {
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        auto* memo = window->findChild<QPlainTextEdit*>("Memo1");
        memo->setFocus();
        QTest::keyClick(memo, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), widget("BtnRA5"));
        QVERIFY(memo->toPlainText().isEmpty());
    }

    void windowProperties() {
        QCOMPARE(window->objectName(), QStringLiteral("VARDEK_Ctrl"));
        QCOMPARE(window->metaObject()->className(), "TVARDEK_Ctrl");
        QCOMPARE(window->windowTitle(), QStringLiteral("VARDEK_Ctrl"));
        QVERIFY(window->minimumSize() != window->maximumSize());
    }

    // The outer size includes whatever frame the platform reports; the client area gives way.
    void placedAtItsDesignedPlace() {
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QCOMPARE(window->frameGeometry(), QRect(192, 107, 400, 300));
        const QMargins frame = window->windowHandle()->frameMargins();
        QCOMPARE(window->size(),
                 QSize(400 - frame.left() - frame.right(), 300 - frame.top() - frame.bottom()));
    }

    // QFontMetrics::inFont counts fallback fonts; only the raw font tells whether the face that
    // was chosen has the glyph.
    void japaneseCaptionsHaveAJapaneseFace() {
        for (const QString name : {"Label1", "GroupBox", "CheckBoxRB7"}) {
            const QFont font = widget(name)->font();
            QVERIFY2(QRawFont::fromFont(font).supportsCharacter(U'ポ'),
                     qPrintable(name + " is drawn in " + QFontInfo(font).family()));
            QCOMPARE(QFontInfo(font).pixelSize(), 12);
        }
    }

    void backgroundIsTheButtonColour() {
        QPalette palette = window->palette();
        palette.setColor(QPalette::Button, Qt::red);
        palette.setColor(QPalette::Window, Qt::blue);
        window->setPalette(palette);
        // Right of the result fields nothing is drawn but the background.
        const QImage image = window->grab().toImage();
        QCOMPARE(image.pixelColor(380, 10), QColor(Qt::red));
        QCOMPARE(image.pixelColor(380, 290), QColor(Qt::red));
    }

    void iconIs32By32In16Colours() {
        const QImage icon(QStringLiteral(":/vardek-control.png"));
        QCOMPARE(icon.size(), QSize(32, 32));
        QVERIFY(icon.colorCount() > 0 && icon.colorCount() <= 16);
        QVERIFY(window->windowIcon().availableSizes().contains(QSize(32, 32)));
    }

    void nonVisualParts() {
        const auto* timer = window->findChild<QTimer*>("Timer1");
        QVERIFY(timer);
        QCOMPARE(timer->interval(), 5000);
        QVERIFY(timer->isActive());
        QVERIFY(!timer->isSingleShot());

        const auto* endpoint = window->findChild<DatagramEndpoint*>("NMUDP1");
        QVERIFY(endpoint);
        QVERIFY(endpoint->localPort() != 0);
    }

    void defaultEndpointIsTheConfiguredBoard() {
        // Created and destroyed unshown: nothing is sent.
        window.reset();
        window = std::make_unique<TVARDEK_Ctrl>();
        const auto* endpoint = window->findChild<DatagramEndpoint*>("NMUDP1");
        QCOMPARE(endpoint->config().RemoteHost, std::string(VARDEK_BOARD_ADDRESS));
        QCOMPARE(endpoint->config().RemotePort, 10001);
        QCOMPARE(endpoint->config().LocalPort, 0);
    }

    void partsGoWithTheWindow() {
        const QPointer<QObject> endpoint = window->findChild<DatagramEndpoint*>("NMUDP1");
        const QPointer<QObject> timer = window->findChild<QTimer*>("Timer1");
        window.reset();
        QVERIFY(endpoint.isNull());
        QVERIFY(timer.isNull());
    }
};

QTEST_MAIN(TestWindow)
#include "test_window.moc"
