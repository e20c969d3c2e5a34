// The panel controller behind the stand-in window and endpoint, driven by a stream of events:
// activations, poll ticks, clicks on every box and button, datagrams of any size and content,
// sends that fail, and a message box closed by the user while events go on beneath it.
//
// Every datagram may be a stranger's: the endpoint drops other addresses, but a UDP source
// address is easily forged, so the controller must not let a datagram act on the board. Only
// the first reply after an activation may copy its output bits into the boxes; any other
// datagram sends nothing and leaves the outputs alone.
//
// Input, one event after another, the opcode taken modulo 8:
//   0            activation                 1       poll tick
//   2 b          click on box RB(2 + b % 6)   3 c     button of channel c % 5
//   4 8 bytes    an 8-byte datagram         5 k     the next k % 4 sends fail
//   6            the user closes the open message box
//   7 n n bytes  a datagram of n bytes
#include <array>
#include <optional>
#include <stdexcept>

#include "fuzz/fuzz_input.h"
#include "link/board_protocol.h"
#include "tests/fake_link.h"
#include "tests/fake_view.h"
#include "window/panel_controller.h"

namespace {

using vardek::fuzz::Input;
using vardek::panel::PanelController;
using vardek::test::Bytes;
using vardek::test::bytesOf;
using vardek::test::FakeLink;
using vardek::test::FakeView;
namespace link = vardek::link;

using Handler = void (PanelController::*)();
constexpr std::array<Handler, 6> kBoxClicks{
    &PanelController::CheckBoxRB2Click, &PanelController::CheckBoxRB3Click,
    &PanelController::CheckBoxRB4Click, &PanelController::CheckBoxRB5Click,
    &PanelController::CheckBoxRB6Click, &PanelController::CheckBoxRB7Click};
// By channel number, RA5 last.
constexpr std::array<Handler, 5> kChannelClicks{
    &PanelController::BtnRA0Click, &PanelController::BtnRA1Click, &PanelController::BtnRA2Click,
    &PanelController::BtnRA3Click, &PanelController::BtnRA5Click};

struct Shown {
    std::array<bool, 8> boxes;
    std::array<QString, 5> edits;
    QString memo;

    bool operator==(const Shown&) const = default;
};

class Panel {
  public:
    explicit Panel(Input& input) : input_(input) {
        link_.failSend = [this](const Bytes& datagram) {
            // Only the four requests, set and clear only for RB2..RB7, reads only of a channel.
            FUZZ_REQUIRE(link::decodeRequest(datagram).has_value());
            if (failing_ > 0) {
                --failing_;
                return true;
            }
            return false;
        };
        // The window's event loop runs on under the message box until the user closes it.
        view_.whileMessageOpen = [this] {
            while (!input_.done()) {
                const std::uint8_t opcode = input_.byte();
                if (opcode % 8 == 6) {
                    return;
                }
                event(opcode);
            }
        };
    }

    void event(std::uint8_t opcode) {
        ++events_;
        switch (opcode % 8) {
            case 0:
                // Armed before its request goes out, so even a failed send leaves it armed.
                syncExpected_ = true;
                handled(&PanelController::FormActivate);
                break;
            case 1:
                // A tick after a poll that no datagram followed: the board is shown silent, and
                // the read it will not answer is dropped.
                if (polled_ && !heard_) {
                    silent_ = true;
                    pendingField_.reset();
                }
                polled_ = true;
                heard_ = false;
                userEvent(&PanelController::BtnGetStatusClick, link::statusRequest());
                break;
            case 2:
                boxClick(2 + input_.byte() % 6);
                break;
            case 3: {
                const std::size_t channel = input_.byte() % link::kChannels.size();
                pendingField_ = link::kChannels.size() - 1 - channel;  // RA0 in Edit5
                userEvent(kChannelClicks[channel],
                          link::readChannelRequest(link::kChannels[channel].selector));
                break;
            }
            case 4:
                datagram(input_.bytes(link::kReplySize));
                break;
            case 5:
                failing_ = input_.byte() % 4;
                break;
            case 7:
                datagram(input_.bytes(input_.byte()));
                break;
            default:
                break;
        }
        FUZZ_REQUIRE(controller_.syncPB() == syncExpected_);
        FUZZ_REQUIRE(controller_.noResponse() == silent_ && view_.noResponse == silent_);
    }

  private:
    // Runs a handler as the window does: what it throws is reported, and only a send made to
    // fail may throw. Anything else escapes and is a finding.
    template <typename Call>
    bool handled(Call call) {
        const int failingBefore = failing_;
        try {
            call();
            return true;
        } catch (const std::runtime_error&) {
            FUZZ_REQUIRE(failing_ < failingBefore);
            return false;
        }
    }

    bool handled(Handler handler) {
        return handled([this, handler] { (controller_.*handler)(); });
    }

    Shown shown() const { return {view_.boxes, view_.edits, view_.memo}; }

    // A poll tick or a channel button: its one request, and nothing shown changes.
    void userEvent(Handler handler, const link::Request& request) {
        const Shown before = shown();
        const std::size_t sent = link_.sent.size();
        if (handled(handler)) {
            FUZZ_REQUIRE(link_.sent.size() == sent + 1 && link_.sent.back() == bytesOf(request));
        }
        FUZZ_REQUIRE(shown() == before);
    }

    void boxClick(int bit) {
        const bool was = view_.isChecked(bit);
        const std::size_t sent = link_.sent.size();
        // The click changes the box, then its handler sends the box's new state.
        view_.setChecked(bit, !was);
        const auto pin = static_cast<std::uint8_t>(bit);
        if (handled(kBoxClicks[static_cast<std::size_t>(bit - 2)])) {
            FUZZ_REQUIRE(link_.sent.size() == sent + 1);
            FUZZ_REQUIRE(link_.sent.back() ==
                         bytesOf(was ? link::clearBitRequest(pin) : link::setBitRequest(pin)));
            FUZZ_REQUIRE(view_.isChecked(bit) == !was);
        } else {
            // The board never got the command, so the box shows what it had.
            FUZZ_REQUIRE(view_.isChecked(bit) == was);
        }
    }

    void datagram(const Bytes& bytes) {
        // The board's first datagram after a silence ends it: a read asked meanwhile is dropped
        // and the outputs are synchronised again, as after an activation.
        heard_ = true;
        if (silent_) {
            silent_ = false;
            pendingField_.reset();
            syncExpected_ = true;
        }
        const Shown before = shown();
        const std::size_t sent = link_.sent.size();
        const bool sync = syncExpected_;
        const int eventsBefore = events_;
        const int shownMessages = view_.messagesShown;
        const bool messageOpen = view_.messageOpen;
        link_.incoming = bytes;
        const bool ok = handled([this, size = static_cast<int>(bytes.size())] {
            controller_.NMUDP1DataReceived(size, "127.0.0.1", link::kBoardPort);
        });
        if (bytes.size() != link::kReplySize) {
            // One message, none while one is open; nothing else changes, save what the events
            // under the message did.
            FUZZ_REQUIRE(view_.messagesShown == shownMessages + (messageOpen ? 0 : 1));
            if (events_ == eventsBefore) {
                FUZZ_REQUIRE(link_.sent.size() == sent && shown() == before);
            }
            pendingField_.reset();
            return;
        }
        const std::uint8_t portB = bytes[1];
        for (int bit = link::kFirstOutputBit; bit <= link::kLastOutputBit; ++bit) {
            const auto index = static_cast<std::size_t>(bit);
            if (!sync) {
                FUZZ_REQUIRE(view_.boxes[index] == before.boxes[index]);
            } else if (ok) {
                FUZZ_REQUIRE(view_.boxes[index] == ((portB >> bit & 1) != 0));
            }
        }
        if (!sync) {
            FUZZ_REQUIRE(link_.sent.size() == sent);
        } else {
            // One command per box that changed, RB7 first, each the box's new state.
            int previousBit = 8;
            for (std::size_t i = sent; i < link_.sent.size(); ++i) {
                const auto request = link::decodeRequest(link_.sent[i]);
                FUZZ_REQUIRE(request && request->command != link::kStatusCommand &&
                             request->command != link::kReadChannelCommand);
                const int bit = request->argument;
                FUZZ_REQUIRE(bit < previousBit);
                previousBit = bit;
                FUZZ_REQUIRE(before.boxes[static_cast<std::size_t>(bit)] !=
                             ((portB >> bit & 1) != 0));
                FUZZ_REQUIRE((request->command == link::kSetBitCommand) ==
                             ((portB >> bit & 1) != 0));
            }
        }
        for (std::size_t field = 0; field < before.edits.size(); ++field) {
            if (!ok || pendingField_ != field) {
                FUZZ_REQUIRE(view_.edits[field] == before.edits[field]);
            }
        }
        if (!ok) {
            // Abandoned while synchronising: it stays armed, and nothing of the reply is shown.
            FUZZ_REQUIRE(view_.memo == before.memo);
            return;
        }
        FUZZ_REQUIRE(view_.boxes[0] == ((portB & 1) != 0) && view_.boxes[1] == ((portB & 2) != 0));
        syncExpected_ = false;
        pendingField_.reset();
    }

    Input& input_;
    FakeView view_;
    FakeLink link_{view_.journal};
    PanelController controller_{view_, link_};
    int failing_ = 0;
    int events_ = 0;
    bool syncExpected_ = false;
    // Whether a poll went out, whether a datagram came after the last one, and whether the
    // board is shown silent.
    bool polled_ = false;
    bool heard_ = false;
    bool silent_ = false;
    // The result field that the next reply may write: that of the channel button pressed since
    // the last datagram was handled.
    std::optional<std::size_t> pendingField_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    Panel panel(input);
    while (!input.done()) {
        panel.event(input.byte());
    }
    return 0;
}
