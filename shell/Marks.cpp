// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Marks.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
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

// An open eye: two arcs and a pupil.
void drawEye(QPainter& p, qreal x) {
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath lids;
    lids.moveTo(x + 1, 8);
    lids.quadTo(x + 8, 1, x + 15, 8);
    lids.quadTo(x + 8, 15, x + 1, 8);
    p.setPen(QPen(QColor(0x1f, 0x3a, 0x70), 1.5));
    p.setBrush(Qt::white);
    p.drawPath(lids);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x3a, 0x70));
    p.drawEllipse(QPointF(x + 8, 8), 2.6, 2.6);
}

} // namespace

// The mark (or room for one) and, beside it, the eye of a watched contact.
QIcon withEye(const std::optional<ResultKind>& kind, bool watched) {
    static QHash<int, QIcon> icons;
    const int key = (kind ? int(*kind) : 9) * 2 + int(watched);
    if (const auto it = icons.constFind(key); it != icons.constEnd())
        return *it;
    QPixmap both(2 * Size, Size);
    both.fill(Qt::transparent);
    QPainter p(&both);
    if (kind)
        p.drawPixmap(0, 0, draw(*kind == ResultKind::Uncertain ? ResultKind::Unknown : *kind));
    if (watched)
        drawEye(p, Size);
    p.end();
    return icons[key] = QIcon(both);
}

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
    if (!kind.isValid() && !m_room && !m_eyes)
        return;
    option->features |= QStyleOptionViewItem::HasDecoration;
    if (m_eyes) {
        option->icon = Marks::withEye(kind.isValid() ? std::optional(ResultKind(kind.toInt())) : std::nullopt,
                                      index.data(Marks::WatchedRole).toBool());
        option->decorationSize = QSize(32, 16);
        return;
    }
    static const QIcon blank = [] {
        QPixmap empty(16, 16);
        empty.fill(Qt::transparent);
        return QIcon(empty);
    }();
    option->icon = kind.isValid() ? Marks::icon(ResultKind(kind.toInt())) : blank;
    option->decorationSize = QSize(16, 16);
}
