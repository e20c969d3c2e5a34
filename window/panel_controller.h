// The behaviour of the control window: window events, poll ticks and arriving datagrams turned
// into requests to the board and updates of the widgets.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/board_protocol.h"
#include "link/datagram_link.h"
#include "window/panel_view.h"

namespace vardek::panel {

inline constexpr std::string_view kWrongSizeText =
    windowText("PanelController", "データ数が一致しません");
inline constexpr std::string_view kWrongSizeCaption =
    windowText("PanelController", "受信したデータに誤りがあります");

class PanelController {
  public:
    PanelController(PanelView& view, link::DatagramLink& link);

    // The handlers and the routines and state they share (FormActivate, BtnRA5Click,
    // NMUDP1DataReceived, GetStatus, RBset, SetPB, PendingADC, SyncPB) keep the window's
    // historical names, as Unit1.h says; the controller's own parts are in the project's style.
    //
    // Event handlers, one per bound event of the window. The output boxes' handlers run on the
    // user's clicks; when the command cannot be sent, the box goes back to its previous state
    // and the failure is thrown on.
    void FormActivate();
    // A poll: also where a board that has gone silent is noticed, when no datagram came since
    // the previous poll's request.
    void BtnGetStatusClick();
    void CheckBoxRB7Click();
    void CheckBoxRB6Click();
    void CheckBoxRB5Click();
    void CheckBoxRB4Click();
    void CheckBoxRB3Click();
    void CheckBoxRB2Click();
    void BtnRA5Click();
    void BtnRA3Click();
    void BtnRA2Click();
    void BtnRA1Click();
    void BtnRA0Click();
    // Only the size is used: the endpoint hands on datagrams from the board's address alone, and
    // every 8-byte one is a reply.
    void NMUDP1DataReceived(int numberBytes, std::string_view fromIP, int port);

    // The selector of the channel read awaiting its answer, 0 for none.
    std::uint8_t pendingADC() const { return PendingADC; }
    // Whether the next reply's output bits are copied into the boxes.
    bool syncPB() const { return SyncPB; }
    // Whether the window shows that the board does not answer.
    bool noResponse() const { return noResponse_; }

  private:
    void GetStatus();
    void RBset(std::uint8_t bit);
    void RBclear(std::uint8_t bit);
    // Reads the channel whose selector PendingADC holds.
    void GetADC();
    // Copies port B bits 7 down to 2 into the output boxes; each box that changes sends its
    // command at once, as its click handler does.
    void SetPB(std::uint8_t portB);

    void send(const link::Request& request);
    // Sends the command for the state of output box `bit` (2..7): what a change of the box
    // does, whether the user clicked it or SetPB set it.
    void sendOutputState(int bit);
    void userClick(int bit);
    void readChannel(std::uint8_t selector);
    void showReply(const link::Reply& reply);
    void heardFromBoard();

    PanelView& view_;
    link::DatagramLink& link_;
    std::uint8_t PendingADC = 0;
    bool SyncPB = false;
    // Whether any datagram came since the last poll's request; before the first poll there is
    // none to be unanswered.
    bool heardSincePoll_ = true;
    bool noResponse_ = false;
    std::optional<std::chrono::system_clock::time_point> lastReply_;
};

}  // namespace vardek::panel
