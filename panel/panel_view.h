// The window operations the panel controller uses, so the controller runs without a screen.
#pragma once

#include <string>

#include "board_protocol.h"

namespace vardek::panel {

class PanelView {
  public:
    virtual ~PanelView() = default;

    // Port B box of bit n (CheckBoxRB0..CheckBoxRB7).
    virtual bool isChecked(int bit) const = 0;
    // When the state really changes, the box's click handler (RB2..RB7 have one) runs at once,
    // inside this call, exactly as for a user's click. Setting the state it already has does
    // nothing.
    virtual void setChecked(int bit, bool checked) = 0;

    virtual void setResultText(link::ResultField field, const std::string& text) = 0;
    // Replaces the whole text of Memo1.
    virtual void setDumpText(const std::string& text) = 0;
    // A modal message with one OK button and no icon; returns when the user closes it. The event
    // loop keeps running meanwhile.
    virtual void showMessage(const std::string& text, const std::string& caption) = 0;
};

}  // namespace vardek::panel
