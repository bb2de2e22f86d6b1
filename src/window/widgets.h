#pragma once
// Small departures from Qt's stock controls, where the stock look or
// behaviour would hide something from the user.

#include <QGroupBox>
#include <QIcon>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace melodex {

// A scroll bar as short as its two arrows, used as up/down buttons. The
// stock bar shows nothing when it has the focus, so the keyboard user would
// not know the arrow keys now change its value.
class UpDownBar : public QScrollBar {
public:
    explicit UpDownBar(QWidget* parent) : QScrollBar(Qt::Vertical, parent) { }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A frame whose line runs through the middle of its title. Qt's styles draw
// the line under the title, where the first button inside, placed for the
// classic look, would stand on it.
class TitledFrame : public QGroupBox {
public:
    TitledFrame(const QString& title, QWidget* parent) : QGroupBox(title, parent) { }

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
