#pragma once
// Answers the window's modal boxes from a script. Each box records what it
// showed; a box nobody scripted fails the test.

#include <deque>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "window/dialogs.h"

namespace melodex::test {

enum class BoxKind { Message, Input, Waiting };

struct ShownBox {
    bool input = false; // an input box, else a message box or a waiting box
    QString text; // the message, or the input box's prompt
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
    QString caption; // as the box shows it
    QString defaultText;
    bool waiting = false; // a waiting box
};

class ScriptedDialogs : public Dialogs {
public:
    // The answer of the next message box.
    void answerMessage(MessageResult button = MessageResult::Ok)
    {
        answers_.push_back({ BoxKind::Message, button, {}, {} });
    }
    // The text the next input box returns (empty: cancelled).
    void answerInput(const QString& text)
    {
        answers_.push_back({ BoxKind::Input, MessageResult::Ok, text, {} });
    }
    // The next waiting box: Cancel pressed as soon as it is up, or (Ok) left
    // alone until the wait ends. whileUp runs when the box is first asked
    // for its events: what happens meanwhile elsewhere.
    void answerWaiting(MessageResult button, std::function<void()> whileUp = {})
    {
        answers_.push_back({ BoxKind::Waiting, button, {}, std::move(whileUp) });
    }

    MessageResult messageBox(
        const QString& text, MessageButtons buttons, MessageIcon icon, const QString& caption) override
    {
        shown.push_back({ false, text, buttons, icon, caption.isEmpty() ? kAppTitle : caption, {}, false });
        return next(BoxKind::Message, text).button;
    }

    QString inputBox(const QString& prompt, const QString& caption, const QString& defaultText) override
    {
        shown.push_back({ true, prompt, MessageButtons::Ok, MessageIcon::None,
            caption.isEmpty() ? kAppTitle : caption, defaultText, false });
        return next(BoxKind::Input, prompt).text;
    }

    std::unique_ptr<WaitingBox> waitingBox(const QString& text) override
    {
        shown.push_back({ false, text, MessageButtons::Ok, MessageIcon::None, kAppTitle, {}, true });
        return std::make_unique<Waiting>(next(BoxKind::Waiting, text), openWaitingBoxes_);
    }

    // True when every scripted answer was used.
    bool done() const { return answers_.empty(); }
    // Waiting boxes shown and not yet closed.
    int openWaitingBoxes() const { return openWaitingBoxes_; }

    std::vector<ShownBox> shown;

private:
    struct Answer {
        BoxKind kind;
        MessageResult button;
        QString text;
        std::function<void()> whileUp;
    };

    class Waiting : public WaitingBox {
    public:
        Waiting(Answer answer, int& open)
            : answer_(std::move(answer))
            , open_(open)
        {
            ++open_;
        }
        ~Waiting() override { --open_; }
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;

        bool cancelled() override
        {
            if (answer_.whileUp)
                std::exchange(answer_.whileUp, {})();
            return answer_.button == MessageResult::Cancel;
        }

    private:
        Answer answer_;
        int& open_;
    };

    Answer next(BoxKind kind, const QString& text)
    {
        if (answers_.empty() || answers_.front().kind != kind) {
            ADD_FAILURE() << "unexpected box: " << text.toStdString();
            // A waiting box nobody scripted gives up, or the save would wait 10 s.
            return { kind, kind == BoxKind::Waiting ? MessageResult::Cancel : MessageResult::Ok, {}, {} };
        }
        Answer answer = std::move(answers_.front());
        answers_.pop_front();
        return answer;
    }

    std::deque<Answer> answers_;
    int openWaitingBoxes_ = 0;
};

} // namespace melodex::test
