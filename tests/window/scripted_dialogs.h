#pragma once
// Answers the window's modal boxes from a script. Each box records what it
// showed; a box nobody scripted fails the test.

#include <deque>
#include <vector>

#include <gtest/gtest.h>

#include "window/dialogs.h"

namespace melodex::test {

struct ShownBox {
    bool input = false; // an input box, else a message box
    QString text; // the message, or the input box's prompt
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    QString caption; // as the box shows it
    QString defaultText;
};

class ScriptedDialogs : public Dialogs {
public:
    // The answer of the next message box.
    void answerMessage(MessageResult button = MessageResult::Ok)
    {
        answers_.push_back({ false, button, {} });
    }
    // The text the next input box returns (empty: cancelled).
    void answerInput(const QString& text) { answers_.push_back({ true, MessageResult::Ok, text }); }

    MessageResult messageBox(
        const QString& text, MessageButtons buttons, MessageIcon icon, const QString& caption) override
    {
        shown.push_back({ false, text, buttons, icon, caption.isEmpty() ? kAppTitle : caption, {} });
        if (answers_.empty() || answers_.front().input) {
            ADD_FAILURE() << "unexpected message box: " << text.toStdString();
            return MessageResult::Ok;
        }
        const MessageResult button = answers_.front().button;
        answers_.pop_front();
        return button;
    }

    QString inputBox(const QString& prompt, const QString& caption, const QString& defaultText) override
    {
        shown.push_back({ true, prompt, MessageButtons::Ok, MessageIcon::None,
            caption.isEmpty() ? kAppTitle : caption, defaultText });
        if (answers_.empty() || !answers_.front().input) {
            ADD_FAILURE() << "unexpected input box: " << prompt.toStdString();
            return {};
        }
        const QString text = answers_.front().text;
        answers_.pop_front();
        return text;
    }

    // True when every scripted answer was used.
    bool done() const { return answers_.empty(); }

    std::vector<ShownBox> shown;

private:
    struct Answer {
        bool input;
        MessageResult button;
        QString text;
    };
    std::deque<Answer> answers_;
};

} // namespace melodex::test
