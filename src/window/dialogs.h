#pragma once
// The two kinds of modal box the window needs, behind an interface so that
// tests can answer them.

#include <QString>

class QWidget;

namespace melodex {

// Button sets and icons of messageBox(), added together ("OK/Cancel with a
// question icon" is kOkCancel + kQuestion), and the buttons it returns.
inline constexpr int kOkOnly = 0;
inline constexpr int kOkCancel = 1;
inline constexpr int kYesNo = 4;
inline constexpr int kCritical = 16;
inline constexpr int kQuestion = 32;
inline constexpr int kExclamation = 48;
inline constexpr int kInformation = 64;

inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kYes = 6;
inline constexpr int kNo = 7;

// A box that names no caption of its own shows the program's name.
inline const QString kAppTitle = QStringLiteral("Melodex");

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual int messageBox(const QString& text, int buttons = 0,
                           const QString& caption = {}) = 0;   // returns the button
    virtual QString inputBox(const QString& prompt, const QString& caption,
                             const QString& defaultText) = 0;  // empty on cancel
};

// The real boxes, centred on the parent window once it is set.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) { }
    void setParent(QWidget* parent) { parent_ = parent; }

    int messageBox(const QString& text, int buttons = 0, const QString& caption = {}) override;
    QString inputBox(const QString& prompt, const QString& caption, const QString& defaultText) override;

private:
    QWidget* parent_;
};

} // namespace melodex
