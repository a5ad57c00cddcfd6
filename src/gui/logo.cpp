#include "logo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

QPixmap product_logo() {
    QPixmap logo(62, 132);
    logo.fill(Qt::transparent);
    QPainter painter(&logo);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, 132);
    fill.setColorAt(0, QColor(0x2b, 0x59, 0x8c));
    fill.setColorAt(1, QColor(0x12, 0x2c, 0x4a));
    painter.setBrush(fill);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(1, 1, 60, 130), 8, 8);
    // Three folded sheets: includes folded into one page.
    painter.setBrush(QColor(0xf2, 0xc1, 0x4e));
    for (int i = 0; i < 3; ++i) painter.drawRect(QRectF(14 + i * 4, 8 + i * 7, 24, 24));
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(11);
    painter.setFont(font);
    painter.translate(36, 124);
    painter.rotate(-90);
    painter.drawText(QPointF(0, 0), QStringLiteral("ORRINFOLD"));
    return logo;
}
