#include "window/widgets.h"

#include <algorithm>

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QToolTip>
#include <qdrawutil.h>

namespace melodex {

int listIndex(const QComboBox* box)
{
    const QString text = box->currentText();
    const int current = box->currentIndex();
    if (current >= 0 && box->itemText(current) == text)
        return current;
    return box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
}

TextBox::TextBox(int limit, QWidget* parent)
    : QLineEdit(parent)
    , limit_(limit)
{
    if (limit_ > 0)
        setMaxLength(limit_);
    connect(this, &QLineEdit::textEdited, this, [this] { followEdit(); });
}

void TextBox::setWholeText(const QString& text)
{
    if (limit_ > 0)
        setMaxLength(std::max(limit_, static_cast<int>(text.size())));
    setText(text);
}

// A text longer than the limit was shortened: it may not grow back.
void TextBox::followEdit()
{
    const int allowed = std::max(limit_, static_cast<int>(text().size()));
    if (limit_ <= 0 || allowed == maxLength())
        return;
    // Qt sets the text anew on a new maximum, which puts the cursor at the end.
    const int cursor = cursorPosition();
    setMaxLength(allowed);
    setCursorPosition(cursor);
}

void DriveList::showPopup()
{
    refresh_();
    QComboBox::showPopup();
}

void LinePitchLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QStringList lines = text().split(QStringLiteral("\r\n"));
    for (int i = 0; i < lines.size(); ++i) {
        const QRect line(0, i * pitch_, width(), pitch_);
        painter.drawText(line, Qt::AlignRight | Qt::AlignVCenter, lines[i].trimmed());
    }
}

void UpDownBar::paintEvent(QPaintEvent* event)
{
    QScrollBar::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.backgroundColor = palette().color(QPalette::Window);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
}

void TitledFrame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();
    const QRect frame = rect().adjusted(0, metrics.height() / 2, 0, 0);
    qDrawShadeRect(&painter, frame, palette(), true, 1, 0);
    if (title().isEmpty())
        return;
    // The title stands in a gap of the line, a space wide on either side.
    const int gap = metrics.horizontalAdvance(QLatin1Char(' '));
    const QRect text(frame.left() + 2 * gap, 0, metrics.horizontalAdvance(title()), metrics.height());
    painter.fillRect(text.adjusted(-gap / 2, 0, gap / 2, 0), palette().window());
    style()->drawItemText(&painter, text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(),
        isEnabled(), title(), QPalette::WindowText);
}

bool FullNameTips::helpEvent(
    QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QStyle* style = view->style();
    // The delegate draws the text inside the item's text rectangle less a
    // margin on either side and elides what is wider; a list that scrolls
    // sideways instead may hide either end of it.
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view);
    const int advance = item.fontMetrics.horizontalAdvance(item.text);
    const bool elided = advance > text.width() - 2 * margin;
    const QRect visible = view->viewport()->rect();
    const int end = text.left() + margin + std::min(advance, text.width() - 2 * margin);
    if (!elided && text.left() >= visible.left() && end <= visible.right() + 1) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(), item.text.trimmed(), view->viewport(), option.rect);
    return true;
}

QIcon openFolderIcon(const QColor& colour)
{
    QIcon icon;
    for (const int size : { 16, 32 }) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        const QPen outline(colour.darker(150), 0.8);
        // The back of the folder with its tab, a sheet of paper standing in
        // it, and the front flap tipped forward: open at a glance.
        QPainterPath back;
        back.moveTo(1, 13.5);
        back.lineTo(1, 3);
        back.lineTo(6, 3);
        back.lineTo(7, 4.5);
        back.lineTo(13, 4.5);
        back.lineTo(13, 13.5);
        back.closeSubpath();
        painter.setPen(outline);
        painter.setBrush(colour.darker(115));
        painter.drawPath(back);
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(3, 5.5, 8.5, 5));
        QPainterPath flap;
        flap.moveTo(1, 13.5);
        flap.lineTo(3.5, 7.5);
        flap.lineTo(15.5, 7.5);
        flap.lineTo(13, 13.5);
        flap.closeSubpath();
        painter.setBrush(colour.lighter(125));
        painter.drawPath(flap);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace melodex
