// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Marks.h"

#include <QPainter>
#include <QPixmap>

namespace Marks {
namespace {

constexpr int Size = 16;

QPixmap draw(ResultKind kind) {
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (kind) {
    case ResultKind::Online: // a full disc
        p.setPen(QPen(QColor(0x14, 0x6b, 0x2a), 1));
        p.setBrush(QColor(0x2e, 0xa0, 0x43));
        p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
        break;
    case ResultKind::Offline: // an empty square
        p.setPen(QPen(QColor(0x5f, 0x5f, 0x5f), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(4, 4, 8, 8));
        break;
    case ResultKind::NoSuchUser: // a cross
        p.setPen(QPen(QColor(0xb7, 0x1c, 0x1c), 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, 4), QPointF(12, 12));
        p.drawLine(QPointF(12, 4), QPointF(4, 12));
        break;
    case ResultKind::Unknown:
    case ResultKind::Uncertain: { // a question mark
        QFont font = p.font();
        font.setPixelSize(13);
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(0x8a, 0x5a, 0x00));
        p.drawText(QRect(0, 0, Size, Size), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    }
    return pixmap;
}

} // namespace

QIcon icon(ResultKind kind) {
    // Not known either way, whatever the reason: the same question mark.
    static const QIcon icons[] = {QIcon(draw(ResultKind::Online)), QIcon(draw(ResultKind::Offline)),
                                  QIcon(draw(ResultKind::NoSuchUser)), QIcon(draw(ResultKind::Unknown)),
                                  QIcon(draw(ResultKind::Unknown))};
    return icons[int(kind)];
}

QString words(ResultKind kind) {
    switch (kind) {
    case ResultKind::Online: return QStringLiteral("Online");
    case ResultKind::Offline: return QStringLiteral("Offline");
    case ResultKind::NoSuchUser: return QStringLiteral("No such user");
    case ResultKind::Unknown: return QStringLiteral("Not known");
    case ResultKind::Uncertain: return QStringLiteral("Status unknown");
    }
    return {};
}

} // namespace Marks

void MarkDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const QVariant kind = index.data(Marks::KindRole);
    if (!kind.isValid() && !m_room)
        return;
    static const QIcon blank = [] {
        QPixmap empty(16, 16);
        empty.fill(Qt::transparent);
        return QIcon(empty);
    }();
    option->icon = kind.isValid() ? Marks::icon(ResultKind(kind.toInt())) : blank;
    option->features |= QStyleOptionViewItem::HasDecoration;
    option->decorationSize = QSize(16, 16);
}
