// The control window: the widgets of Unit1.ui, the endpoint NMUDP1 and the poll timer Timer1,
// with every event bound to the panel controller, where the behaviour lives.
#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/language.h"
#include "link/datagram_endpoint.h"
#include "window/panel_controller.h"
#include "window/panel_view.h"

class QCheckBox;
class QTimer;

namespace Ui {
class TVARDEK_Ctrl;
}

// Unit1, TVARDEK_Ctrl, NMUDP1, Timer1 and the widgets' names in Unit1.ui (BtnRA5, CheckBoxRB7,
// Edit1...) are the window's historical names, those of the program it replaces, kept so that
// its parts are found under the names their users and the original's notes give them. The
// window's own code around them is in the project's style.
class TVARDEK_Ctrl final : public QWidget, private vardek::panel::PanelView {
    Q_OBJECT

  public:
    // Talks to the board address fixed at build time, port 10001.
    explicit TVARDEK_Ctrl(QWidget* parent = nullptr);
    // Captioned with the board's address when it is not the one built in, so that windows for
    // two boards can be told apart.
    explicit TVARDEK_Ctrl(vardek::link::EndpointConfig endpoint, QWidget* parent = nullptr);
    ~TVARDEK_Ctrl() override;

    // The window's texts are Japanese; installed before the window is created, the translation
    // into `language` ("en") gives them in that language. None is needed for Japanese.
    static vardek::host::Translation translationInto(std::string_view language);

  protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

  private:
    bool isChecked(int bit) const override;
    void setChecked(int bit, bool checked) override;
    void setResultText(vardek::panel::ResultField field, const std::string& text) override;
    void setDumpText(const std::string& text) override;
    void showNoResponse(bool silent, const std::string& lastReply) override;
    void showMessage(const std::string& text, const std::string& caption) override;

    QCheckBox* portBBox(int bit) const;
    void bindEvents();
    void raiseFormActivate();
    void fitOuterSize();
    void scheduleDrawing();
    void drawReplies();

    // The widgets, as Unit1.ui describes them.
    std::unique_ptr<Ui::TVARDEK_Ctrl> ui_;
    vardek::link::DatagramEndpoint* NMUDP1;
    QTimer* Timer1;
    vardek::panel::PanelController controller_;
    bool shown_ = false;
    bool outerSizeFitted_ = false;
    // Whether the window holds the activation, as the controller sees it: from the first
    // showing, or from the platform's activation, until it goes to another window than the
    // program's own boxes.
    bool activated_ = false;
    // "VARDEK_Ctrl", with the board's address after it when that is not the built-in one.
    QString boardTitle_;
    // What the latest replies write into the dump and the result fields, drawn at the end of
    // the event loop's turn and no more often than a screen shows frames: a board sending as
    // fast as the link allows must not cost a layout of the dump per reply.
    std::optional<std::string> pendingDump_;
    std::array<std::optional<std::string>, 5> pendingFields_;
    QTimer* drawing_;
    QElapsedTimer lastDrawn_;
};
