#include "shell/BannerSubtitle.h"

#include <QFont>
#include <QLabel>

void ShowBannerSubtitle(QLabel *banner, const QString &text)
{
    static const QString name = QStringLiteral("bannerSubtitle");
    auto *label = banner->findChild<QLabel *>(name, Qt::FindDirectChildrenOnly);
    if (!label) {
        label = new QLabel(banner);
        label->setObjectName(name);
        // Placed where the picture leaves room, in its light blue, on its gradient.
        label->setGeometry(190, 22, 210, 18);
        label->setAttribute(Qt::WA_TranslucentBackground);
        label->setStyleSheet(QStringLiteral("color: #dbe9fa; background: transparent;"));
        QFont font(QStringLiteral("sans-serif"));
        font.setPixelSize(12);
        label->setFont(font);
        label->show();
    }
    label->setText(text);
}
