#pragma once
// Small departures from Qt's stock controls, where the stock look or
// behaviour would hide something from the user or fall out of step with the
// window, and how the window reads a combo box.

#include <functional>
#include <utility>

#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace melodex {

// The item the combo box's text names, or -1 when the text (typed by the
// user) matches none of its items.
int listIndex(const QComboBox* box);

// A text box whose length limit holds for typing only. A text set from a
// preset shows whole, however long: cut, it would make another page than the
// command line makes from the same preset. Typing never lengthens a text past
// the limit, nor a longer one past its own length.
class TextBox : public QLineEdit {
public:
    TextBox(int limit, QWidget* parent); // limit 0: none
    void setWholeText(const QString& text);

private:
    void followEdit();
    int limit_;
};

// Mounts come and go while the window is open: the list is read again each
// time it drops down.
class DriveList : public QComboBox {
public:
    DriveList(std::function<void()> refresh, QWidget* parent)
        : QComboBox(parent)
        , refresh_(std::move(refresh))
    {
    }
    void showPopup() override;

private:
    std::function<void()> refresh_;
};

// A label whose lines stand at a fixed pitch, whatever the font's own line
// height: the column numbers must stay level with their choosers.
class LinePitchLabel : public QLabel {
    Q_OBJECT
public:
    LinePitchLabel(int pitch, QWidget* parent)
        : QLabel(parent)
        , pitch_(pitch)
    {
    }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int pitch_;
};

// A scroll bar as short as its two arrows, used as up/down buttons. The
// stock bar shows nothing when it has the focus, so the keyboard user would
// not know the arrow keys now change its value.
class UpDownBar : public QScrollBar {
public:
    explicit UpDownBar(QWidget* parent)
        : QScrollBar(Qt::Vertical, parent)
    {
    }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A frame whose line runs through the middle of its title. Qt's styles draw
// the line under the title, where the first button inside, placed for the
// classic look, would stand on it.
class TitledFrame : public QGroupBox {
public:
    TitledFrame(const QString& title, QWidget* parent)
        : QGroupBox(title, parent)
    {
    }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Names cut short with "…" to fit the list show in full as a tool tip; names
// that fit show none.
class FullNameTips : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
        const QModelIndex& index) override;
};

// An open folder to stand beside the style's closed one. Qt's own open and
// closed folder icons are told apart only by a shade at list size.
QIcon openFolderIcon(const QColor& colour);

} // namespace melodex
