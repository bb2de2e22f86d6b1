#pragma once
// The kinds of modal box the window needs, behind an interface so that tests
// can answer them.

#include <memory>

#include <QString>

class QWidget;

namespace melodex {

// Only the sets of buttons and the icons the window shows.
enum class MessageButtons { Ok, OkCancel };
enum class MessageIcon { None, Question, Exclamation };
enum class MessageResult { Ok, Cancel };

// A box that names no caption of its own shows the program's name.
inline const QString kAppTitle = QStringLiteral("Melodex");

// A box with a Cancel button that stays up while the window waits on another
// program, and closes when it is destroyed. The wait runs on the window's
// thread, so the box handles its events only when asked.
class WaitingBox {
public:
    virtual ~WaitingBox() = default;
    // Handles the box's pending events; true once the user pressed Cancel or
    // closed the box.
    virtual bool cancelled() = 0;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MessageResult messageBox(const QString& text, MessageButtons buttons = MessageButtons::Ok,
        MessageIcon icon = MessageIcon::None, const QString& caption = {})
        = 0;
    // Empty on cancel.
    virtual QString inputBox(const QString& prompt, const QString& caption, const QString& defaultText) = 0;
    // Shown at once, until the box is destroyed.
    virtual std::unique_ptr<WaitingBox> waitingBox(const QString& text) = 0;
};

// The real boxes, centred on the parent window once it is set.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr)
        : parent_(parent)
    {
    }
    void setParent(QWidget* parent) { parent_ = parent; }

    MessageResult messageBox(const QString& text, MessageButtons buttons = MessageButtons::Ok,
        MessageIcon icon = MessageIcon::None, const QString& caption = {}) override;
    QString inputBox(const QString& prompt, const QString& caption, const QString& defaultText) override;
    std::unique_ptr<WaitingBox> waitingBox(const QString& text) override;

private:
    QWidget* parent_;
};

} // namespace melodex
