#include "window/panel_controller.h"

#include <array>
#include <chrono>
#include <ctime>

#include "link/reply_text.h"

namespace vardek::panel {

using link::Reading;

namespace {

// The field beside each channel's button, by channel number: RA0 in Edit5 up to RA5 in Edit1.
constexpr std::array<ResultField, link::kChannels.size()> kResultFields{
    ResultField::Edit5, ResultField::Edit4, ResultField::Edit3, ResultField::Edit2,
    ResultField::Edit1};

// The local time of day of `time`, as the window shows when the board last answered; empty for
// none.
std::string timeOfDay(std::optional<std::chrono::system_clock::time_point> time) {
    if (!time) {
        return {};
    }
    const std::time_t seconds = std::chrono::system_clock::to_time_t(*time);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::array<char, 16> text{};
    return {text.data(), std::strftime(text.data(), text.size(), "%H:%M:%S", &local)};
}

}  // namespace

PanelController::PanelController(PanelView& view, link::DatagramLink& link)
    : view_(view), link_(link) {}

void PanelController::FormActivate() {
    // Armed first, so a status request that cannot be sent leaves the next good reply (a poll's,
    // once the network is back) to synchronise. Replies are handled only between handlers, so
    // nothing can spend it before the request has gone out.
    SyncPB = true;
    GetStatus();
}

void PanelController::BtnGetStatusClick() {
    if (!heardSincePoll_) {
        // A channel read asked of a silent board has no answer to come: the next reply after
        // the board is back would otherwise be shown as that reading.
        PendingADC = 0;
        if (!noResponse_) {
            noResponse_ = true;
            view_.showNoResponse(true, timeOfDay(lastReply_));
        }
    }
    // Marked before the send, so a poll that cannot be sent counts as unanswered.
    heardSincePoll_ = false;
    GetStatus();
}

void PanelController::heardFromBoard() {
    heardSincePoll_ = true;
    // Only noted here, at the rate a board may send; written out when it is shown.
    lastReply_ = std::chrono::system_clock::now();
    if (!noResponse_) {
        return;
    }
    noResponse_ = false;
    // A read asked while the board was silent most likely never reached it: this datagram is
    // not its answer.
    PendingADC = 0;
    // A board that was silent may have restarted and lost its outputs, or missed the commands
    // sent meanwhile: as after an activation, the boxes take what the board reports, and this
    // datagram, if it is a reply, is the one that does it.
    SyncPB = true;
    view_.showNoResponse(false, timeOfDay(lastReply_));
}

void PanelController::sendOutputState(int bit) {
    const auto pin = static_cast<std::uint8_t>(bit);
    if (view_.isChecked(bit)) {
        RBset(pin);
    } else {
        RBclear(pin);
    }
}

void PanelController::CheckBoxRB7Click() { userClick(7); }
void PanelController::CheckBoxRB6Click() { userClick(6); }
void PanelController::CheckBoxRB5Click() { userClick(5); }
void PanelController::CheckBoxRB4Click() { userClick(4); }
void PanelController::CheckBoxRB3Click() { userClick(3); }
void PanelController::CheckBoxRB2Click() { userClick(2); }

void PanelController::userClick(int bit) {
    try {
        sendOutputState(bit);
    } catch (...) {
        // The board never got the command: the box must not show a state it does not have.
        view_.setChecked(bit, !view_.isChecked(bit));
        throw;
    }
}

void PanelController::BtnRA5Click() { readChannel(link::channelSelector(4)); }
void PanelController::BtnRA3Click() { readChannel(link::channelSelector(3)); }
void PanelController::BtnRA2Click() { readChannel(link::channelSelector(2)); }
void PanelController::BtnRA1Click() { readChannel(link::channelSelector(1)); }
void PanelController::BtnRA0Click() { readChannel(link::channelSelector(0)); }

void PanelController::readChannel(std::uint8_t selector) {
    PendingADC = selector;
    GetADC();
}

void PanelController::NMUDP1DataReceived(int numberBytes, std::string_view, int) {
    heardFromBoard();
    if (numberBytes != static_cast<int>(link::kReplySize)) {
        // The view shows one box at a time: a run of wrong-sized datagrams cannot stack them.
        view_.showMessage(std::string(kWrongSizeText), std::string(kWrongSizeCaption));
        PendingADC = 0;
        return;
    }

    link::ReplyBytes bytes{};
    int count = 0;
    link_.ReadBuffer(bytes, count);
    // Eight bytes, as the event's size said, so this is a reply.
    const link::Reply reply = *link::decodeReply(bytes);
    if (SyncPB) {
        // First, so the commands it raises go out before the rest of the reply is shown.
        SetPB(reply.portB());
        SyncPB = false;
    }
    showReply(reply);
    PendingADC = 0;
}

void PanelController::showReply(const link::Reply& reply) {
    view_.setDumpText(link::dumpText(reply.bytes));
    // By order of arrival alone: whatever reply comes next is taken as the channel's answer.
    if (const link::Channel* channel = link::findChannel(PendingADC)) {
        const std::uint16_t value = reply.conversion();
        view_.setResultText(kResultFields.at(static_cast<std::size_t>(channel->number)),
                            link::readingText(*channel, value));
    }
    view_.setChecked(1, (reply.portB() >> 1 & 1) != 0);
    view_.setChecked(0, (reply.portB() & 1) != 0);
}

void PanelController::send(const link::Request& request) {
    link_.SendBuffer(request.buffer, request.count);
}

void PanelController::GetStatus() { send(link::statusRequest()); }

void PanelController::RBset(std::uint8_t bit) { send(link::setBitRequest(bit)); }

void PanelController::RBclear(std::uint8_t bit) { send(link::clearBitRequest(bit)); }

void PanelController::GetADC() { send(link::readChannelRequest(PendingADC)); }

void PanelController::SetPB(std::uint8_t portB) {
    for (int bit = link::kLastOutputBit; bit >= link::kFirstOutputBit; --bit) {
        const bool set = (portB >> bit & 1) != 0;
        if (view_.isChecked(bit) != set) {
            view_.setChecked(bit, set);
            // As for a click: the box's command goes out at once, before the next box is set.
            sendOutputState(bit);
        }
    }
}

}  // namespace vardek::panel
