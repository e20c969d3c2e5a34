#include "window/Unit1.h"

#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QIcon>
#include <QImageReader>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <array>
#include <utility>

#include "ui_Unit1.h"
#include "window/error_report.h"
#include "window/modal_box.h"
#include "window/wayland.h"

namespace {

using vardek::runReported;
using vardek::panel::onWayland;
using vardek::panel::PanelController;
using vardek::panel::ResultField;

constexpr QPoint kDesignedPosition{192, 107};
// Including the frame, if the platform draws one.
constexpr QSize kOuterSize{400, 300};
constexpr int kPollIntervalMs = 5000;
constexpr int kFontPixelSize = 12;
// About one frame of a 60 Hz screen: replies drawn more often than this are never seen.
constexpr int kDrawIntervalMs = 16;
// Set off by a dash, after the caption and after the board's address.
const QString kTitleSeparator = QStringLiteral(" — ");

// The designed face has no Linux build, and fontconfig's own stand-in for it has no kana: the
// window is drawn in IPAPGothic unless the designed face itself is installed. Named directly,
// not as a substitute: asked for a face that it does not hold, Qt has fontconfig rank every face
// installed against the name before it tries a substitute.
QString designedFontFamily() {
    const QString designed = QStringLiteral("ＭＳ Ｐゴシック");
    const QString substitute = QStringLiteral("IPAPGothic");
    return QFontDatabase::hasFamily(designed) || !QFontDatabase::hasFamily(substitute) ? designed
                                                                                       : substitute;
}

// Read by the built-in PNG decoder alone. Left to guess from the name, the reader first loads
// every image format plugin installed to ask whether it reads PNG, and QIcon's own file
// constructor the SVG icon engine as well: the most of what the window took to come up above a
// plain Qt window.
QIcon designedIcon() {
    QImageReader reader(QStringLiteral(":/vardek-control.png"), "png");
    reader.setAutoDetectImageFormat(false);
    return QIcon(QPixmap::fromImage(reader.read()));
}

// Draws a group frame the conventional way, its caption on the top border: the style's own frame
// starts below the caption, across the first box placed inside it.
class CaptionOnBorder final : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* frame = qobject_cast<QGroupBox*>(watched);
        if (!frame || event->type() != QEvent::Paint) {
            return false;
        }
        QPainter painter(frame);
        const QFontMetrics metrics = frame->fontMetrics();
        const int indent = metrics.averageCharWidth();
        const QRect caption(indent, 0, metrics.horizontalAdvance(frame->title()) + indent,
                            metrics.height());
        const QRect border = frame->rect().adjusted(0, caption.center().y(), -1, -1);
        // Etched: a shadow line with a light one inside it, broken where the caption stands.
        painter.setClipRegion(QRegion(frame->rect()).subtracted(caption));
        painter.setPen(frame->palette().color(QPalette::Mid));
        painter.drawRect(border.adjusted(0, 0, -1, -1));
        painter.setPen(frame->palette().color(QPalette::Light));
        painter.drawRect(border.adjusted(1, 1, 0, 0));
        painter.setClipping(false);
        frame->style()->drawItemText(&painter, caption, Qt::AlignCenter, frame->palette(),
                                     frame->isEnabled(), frame->title(), QPalette::WindowText);
        return true;
    }
};

}  // namespace

TVARDEK_Ctrl::TVARDEK_Ctrl(QWidget* parent)
    : TVARDEK_Ctrl(vardek::link::EndpointConfig{.RemoteHost = VARDEK_BOARD_ADDRESS}, parent) {}

TVARDEK_Ctrl::TVARDEK_Ctrl(vardek::link::EndpointConfig endpoint, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::TVARDEK_Ctrl>()),
      NMUDP1(new vardek::link::DatagramEndpoint(std::move(endpoint), this)),
      Timer1(new QTimer(this)),
      controller_(*this, *NMUDP1),
      drawing_(new QTimer(this)) {
    // Before the widgets are made, so that each is built in it: set after them, it reaches every
    // one of them again as a change of font, and the group frame and the dump box measure and
    // lay out their texts a second time.
    QFont designedFont(designedFontFamily());
    designedFont.setPixelSize(kFontPixelSize);
    setFont(designedFont);
    ui_->setupUi(this);
    boardTitle_ = windowTitle();
    if (NMUDP1->config().RemoteHost != VARDEK_BOARD_ADDRESS) {
        boardTitle_ += kTitleSeparator + QString::fromStdString(NMUDP1->config().RemoteHost);
        setWindowTitle(boardTitle_);
    }
    ui_->GroupBox->installEventFilter(new CaptionOnBorder(ui_->GroupBox));
    NMUDP1->setObjectName(QStringLiteral("NMUDP1"));
    Timer1->setObjectName(QStringLiteral("Timer1"));

    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    setWindowIcon(designedIcon());
    // A Wayland client cannot place its windows: the compositor does.
    if (!onWayland()) {
        move(kDesignedPosition);
    }

    drawing_->setSingleShot(true);
    connect(drawing_, &QTimer::timeout, this, &TVARDEK_Ctrl::drawReplies);
    bindEvents();
    Timer1->start(kPollIntervalMs);
}

vardek::host::Translation TVARDEK_Ctrl::translationInto(std::string_view language) {
    // The name that the translations of panel/CMakeLists.txt are embedded under.
    return vardek::host::translationInto("VARDEK_Control", "ja", language);
}

TVARDEK_Ctrl::~TVARDEK_Ctrl() {
    // The endpoint is a child, released after the controller it calls into.
    NMUDP1->OnDataReceived = nullptr;
    NMUDP1->OnError = nullptr;
}

void TVARDEK_Ctrl::bindEvents() {
    // Every handler runs under runReported: an exception must never unwind through Qt.
    const auto bind = [this](const auto* sender, auto signal, void (PanelController::*handler)()) {
        connect(sender, signal, this,
                [this, handler] { runReported([this, handler] { (controller_.*handler)(); }); });
    };
    bind(Timer1, &QTimer::timeout, &PanelController::BtnGetStatusClick);
    bind(ui_->BtnGetStatus, &QPushButton::clicked, &PanelController::BtnGetStatusClick);
    bind(ui_->BtnRA5, &QPushButton::clicked, &PanelController::BtnRA5Click);
    bind(ui_->BtnRA3, &QPushButton::clicked, &PanelController::BtnRA3Click);
    bind(ui_->BtnRA2, &QPushButton::clicked, &PanelController::BtnRA2Click);
    bind(ui_->BtnRA1, &QPushButton::clicked, &PanelController::BtnRA1Click);
    bind(ui_->BtnRA0, &QPushButton::clicked, &PanelController::BtnRA0Click);
    // On every change of state that the user makes (mouse, keyboard or an assistive tool), not
    // only on clicks; setChecked below changes a box without raising it.
    bind(ui_->CheckBoxRB7, &QCheckBox::toggled, &PanelController::CheckBoxRB7Click);
    bind(ui_->CheckBoxRB6, &QCheckBox::toggled, &PanelController::CheckBoxRB6Click);
    bind(ui_->CheckBoxRB5, &QCheckBox::toggled, &PanelController::CheckBoxRB5Click);
    bind(ui_->CheckBoxRB4, &QCheckBox::toggled, &PanelController::CheckBoxRB4Click);
    bind(ui_->CheckBoxRB3, &QCheckBox::toggled, &PanelController::CheckBoxRB3Click);
    bind(ui_->CheckBoxRB2, &QCheckBox::toggled, &PanelController::CheckBoxRB2Click);
    // The endpoint catches what the handler throws and hands it back through OnError.
    NMUDP1->OnDataReceived = [this](int numberBytes, const std::string& fromIP, int port) {
        controller_.NMUDP1DataReceived(numberBytes, fromIP, port);
    };
    NMUDP1->OnError = [](const std::string& message) { vardek::reportError(message); };
}

bool TVARDEK_Ctrl::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::WindowDeactivate) {
        // Losing the activation to one of the program's own boxes, or before the activation that
        // a closed box handed back has come, does not end the window's activation.
        if (!vardek::panel::modalBoxOpen() && !vardek::panel::handBackPending(this)) {
            activated_ = false;
        }
    } else if (event->type() == QEvent::WindowActivate) {
        // Focus coming back from a box that the program opened is no new activation: with the
        // board unreachable, every error box closed would raise the next one at once.
        const bool handedBack = vardek::panel::takeHandBack(this);
        if (!activated_ && !handedBack) {
            raiseFormActivate();
        }
        activated_ = true;
    }
    return handled;
}

void TVARDEK_Ctrl::raiseFormActivate() {
    // From the event queue, so a box that the handler opens does not run its loop in the middle
    // of Qt's own switch of the active window.
    QMetaObject::invokeMethod(
        this, [this] { runReported([this] { controller_.FormActivate(); }); },
        Qt::QueuedConnection);
}

void TVARDEK_Ctrl::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shown_) {
        shown_ = true;
        // The first showing is the first activation, whether or not the platform activates the
        // window: without a window manager, or on a compositor that keeps the focus where it is,
        // none would come. The platform's own activation of it then raises nothing more.
        activated_ = true;
        raiseFormActivate();
        // An X server without a window manager activates nothing by itself; a Wayland
        // compositor refuses the request.
        if (!onWayland()) {
            activateWindow();
        }
    }
    fitOuterSize();
}

void TVARDEK_Ctrl::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    // A window manager reports its frame only once it has framed the window.
    fitOuterSize();
}

void TVARDEK_Ctrl::fitOuterSize() {
    if (outerSizeFitted_ || !isVisible()) {
        return;
    }
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.isNull()) {
        return;
    }
    outerSizeFitted_ = true;
    resize(kOuterSize - frame);
}

QCheckBox* TVARDEK_Ctrl::portBBox(int bit) const {
    const std::array<QCheckBox*, 8> boxes{ui_->CheckBoxRB0, ui_->CheckBoxRB1, ui_->CheckBoxRB2,
                                          ui_->CheckBoxRB3, ui_->CheckBoxRB4, ui_->CheckBoxRB5,
                                          ui_->CheckBoxRB6, ui_->CheckBoxRB7};
    return boxes.at(static_cast<std::size_t>(bit));
}

bool TVARDEK_Ctrl::isChecked(int bit) const { return portBBox(bit)->isChecked(); }

void TVARDEK_Ctrl::setChecked(int bit, bool checked) {
    QCheckBox* box = portBBox(bit);
    // The state only: the boxes' handlers answer the user's changes, and the controller sends
    // what a change of its own calls for itself.
    const QSignalBlocker blocker(box);
    box->setChecked(checked);
}

void TVARDEK_Ctrl::setResultText(ResultField field, const std::string& text) {
    pendingFields_.at(static_cast<std::size_t>(field)) = text;
    scheduleDrawing();
}

void TVARDEK_Ctrl::setDumpText(const std::string& text) {
    pendingDump_ = text;
    scheduleDrawing();
}

void TVARDEK_Ctrl::scheduleDrawing() {
    if (drawing_->isActive()) {
        return;
    }
    // After the replies already taken off the socket in this turn; a frame after the last
    // drawing when replies keep coming.
    const qint64 sinceDrawn = lastDrawn_.isValid() ? lastDrawn_.elapsed() : kDrawIntervalMs;
    drawing_->start(static_cast<int>(std::max<qint64>(0, kDrawIntervalMs - sinceDrawn)));
}

void TVARDEK_Ctrl::drawReplies() {
    lastDrawn_.start();
    if (pendingDump_) {
        ui_->Memo1->setPlainText(QString::fromStdString(*pendingDump_));
        pendingDump_.reset();
    }
    // In the order of ResultField.
    const std::array<QLineEdit*, 5> fields{ui_->Edit1, ui_->Edit2, ui_->Edit3, ui_->Edit4,
                                           ui_->Edit5};
    for (std::size_t index = 0; index < fields.size(); ++index) {
        if (pendingFields_.at(index)) {
            fields.at(index)->setText(QString::fromStdString(*pendingFields_.at(index)));
            pendingFields_.at(index).reset();
        }
    }
}

void TVARDEK_Ctrl::showNoResponse(bool silent, const std::string& lastReply) {
    setWindowTitle(silent ? boardTitle_ + kTitleSeparator + tr("応答なし") : boardTitle_);
    // The last reply stays readable, drawn as what it now is: no longer current. An empty
    // palette gives the dump back the one it inherits.
    QPalette palette;
    if (silent) {
        palette = ui_->Memo1->palette();
        const QColor disabled = palette.color(QPalette::Disabled, QPalette::Text);
        palette.setColor(QPalette::Active, QPalette::Text, disabled);
        palette.setColor(QPalette::Inactive, QPalette::Text, disabled);
    }
    ui_->Memo1->setPalette(palette);
    QString description;
    if (silent) {
        description = lastReply.empty()
                          ? tr("応答なし: ボードはまだ応答していません")
                          : tr("応答なし: 最後の応答は %1").arg(QString::fromStdString(lastReply));
    }
    ui_->Memo1->setAccessibleDescription(description);
}

void TVARDEK_Ctrl::showMessage(const std::string& text, const std::string& caption) {
    // The controller gives its texts in the window's source language.
    const auto translated = [](const std::string& source) {
        return QCoreApplication::translate(vardek::panel::kTextContext, source.c_str());
    };
    QMessageBox box(QMessageBox::NoIcon, translated(caption), translated(text), QMessageBox::Ok,
                    this);
    vardek::panel::runModal(box);
}
