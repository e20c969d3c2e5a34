// The window operations the panel controller uses, so the controller runs without a screen.
#pragma once

#include <string>
#include <string_view>

namespace vardek::panel {

// The texts that the controller hands the window (a message and its caption) are in the
// window's source language, Japanese, as its captions are; the window shows them in the language
// chosen, looking them up under kTextContext. Each is marked with windowText(), which lupdate
// takes for QT_TRANSLATE_NOOP, so that the translations list them beside the captions.
inline constexpr char kTextContext[] = "PanelController";
constexpr std::string_view windowText(const char* /*context*/, std::string_view source) {
    return source;
}

// The result fields beside the channel buttons, named as in the window.
enum class ResultField { Edit1, Edit2, Edit3, Edit4, Edit5 };

class PanelView {
  public:
    virtual ~PanelView() = default;

    // Port B box of bit n (CheckBoxRB0..CheckBoxRB7).
    virtual bool isChecked(int bit) const = 0;
    // Only sets the state: no click handler runs. The controller runs the handler itself where
    // a change of state must send its command.
    virtual void setChecked(int bit, bool checked) = 0;

    virtual void setResultText(ResultField field, const std::string& text) = 0;
    // Replaces the whole text of Memo1.
    virtual void setDumpText(const std::string& text) = 0;
    // The board let a poll go unanswered (`silent`), or has answered again. `lastReply` is the
    // local time of its last datagram, "HH:MM:SS", or empty when none has come yet.
    virtual void showNoResponse(bool silent, const std::string& lastReply) = 0;
    // A modal message with one OK button and no icon, its texts marked with windowText(); returns
    // when the user closes it. The event loop keeps running meanwhile. While one of the program's
    // boxes is open it shows nothing and returns at once, so datagrams that anyone can send never
    // stack boxes.
    virtual void showMessage(const std::string& text, const std::string& caption) = 0;
};

}  // namespace vardek::panel
