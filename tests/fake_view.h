// A window stand-in for the panel controller: plain state, plus a journal of what was done to it.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <string>

#include "window/panel_view.h"

namespace vardek::test {

class FakeView : public panel::PanelView {
  public:
    bool isChecked(int bit) const override { return boxes.at(static_cast<std::size_t>(bit)); }

    // Journals changes only, so a reply that leaves the inputs as they were adds nothing.
    void setChecked(int bit, bool checked) override {
        bool& box = boxes.at(static_cast<std::size_t>(bit));
        if (box != checked) {
            journal << QStringLiteral("RB%1 %2").arg(bit).arg(checked ? "on" : "off");
        }
        box = checked;
    }

    void setResultText(panel::ResultField field, const std::string& text) override {
        edits.at(static_cast<std::size_t>(field)) = QString::fromStdString(text);
        journal << QStringLiteral("Edit%1 %2")
                       .arg(static_cast<int>(field) + 1)
                       .arg(QString::fromStdString(text));
    }

    void setDumpText(const std::string& text) override {
        memo = QString::fromStdString(text);
        journal << QStringLiteral("Memo1 ") + memo;
    }

    void showNoResponse(bool silent, const std::string& lastReply) override {
        noResponse = silent;
        lastReplyTime = QString::fromStdString(lastReply);
        journal << (silent ? QStringLiteral("no response") : QStringLiteral("answering"));
    }

    // One box at a time, as the window's boxes are.
    void showMessage(const std::string& text, const std::string& caption) override {
        if (messageOpen) {
            return;
        }
        ++messagesShown;
        lastMessage = QString::fromStdString(text);
        lastCaption = QString::fromStdString(caption);
        journal << QStringLiteral("message");
        messageOpen = true;
        if (whileMessageOpen) {
            whileMessageOpen();
        }
        messageOpen = false;
    }

    QString edit(int number) const { return edits.at(static_cast<std::size_t>(number - 1)); }

    std::array<bool, 8> boxes{};
    std::array<QString, 5> edits{};
    QString memo;
    QStringList journal;
    bool noResponse = false;
    QString lastReplyTime;

    int messagesShown = 0;
    bool messageOpen = false;
    QString lastMessage;
    QString lastCaption;

    // Runs while a message is open, as the user's nested event loop would.
    std::function<void()> whileMessageOpen;
};

}  // namespace vardek::test
