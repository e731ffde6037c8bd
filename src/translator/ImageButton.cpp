#include "translator/ImageButton.h"

#include <QFontMetrics>
#include <QPixmap>
#include <QStyleOptionToolButton>
#include <QStylePainter>

QSize ImageButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const QSize image = iconSize();
    const int textWidth = metrics.horizontalAdvance(text());
    if (toolButtonStyle() == Qt::ToolButtonTextBesideIcon)
        return {image.width() + kGap + textWidth + 2 * kPadding, qMax(image.height(), metrics.height()) + 4};
    return {qMax(image.width(), textWidth) + 2 * kPadding, image.height() + kGap + metrics.height() + 4};
}

void ImageButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    painter.drawComplexControl(QStyle::CC_ToolButton, option);

    const QFontMetrics metrics(font());
    const QSize image = iconSize();
    const QPixmap pixmap = icon().pixmap(image, devicePixelRatio(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
    const int shift = isDown() ? 1 : 0;
    QRect imageRect;
    QRect textRect;
    if (toolButtonStyle() == Qt::ToolButtonTextBesideIcon) {
        const int blockWidth = image.width() + kGap + metrics.horizontalAdvance(text());
        const int left = qMax(kPadding, (width() - blockWidth) / 2);
        imageRect = QRect(QPoint(left, (height() - image.height()) / 2), image);
        textRect = QRect(imageRect.right() + 1 + kGap, 0, width() - imageRect.right() - 1 - kGap, height());
    } else {
        const int blockHeight = image.height() + kGap + metrics.height();
        const int top = (height() - blockHeight) / 2;
        imageRect = QRect(QPoint((width() - image.width()) / 2, top), image);
        textRect = QRect(0, top + image.height() + kGap, width(), metrics.height());
    }
    painter.drawPixmap(imageRect.translated(shift, shift), pixmap);
    const Qt::Alignment align
        = toolButtonStyle() == Qt::ToolButtonTextBesideIcon ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter;
    painter.drawItemText(
        textRect.translated(shift, shift), align, palette(), isEnabled(), text(), QPalette::ButtonText);
}
