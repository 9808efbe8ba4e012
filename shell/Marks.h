// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckOutcome.h"

#include <QIcon>
#include <optional>
#include <QStyledItemDelegate>

// The mark a row of the e-mail list shows for its contact's latest result: a small picture of its
// own shape for each kind, so that it reads without colour too.
namespace Marks {
// The model role that carries a row's ResultKind, as an int.
constexpr int KindRole = Qt::UserRole + 1;
// True for a row whose contact is watched.
constexpr int WatchedRole = Qt::UserRole + 2;
QIcon icon(ResultKind kind);
QIcon withEye(const std::optional<ResultKind>& kind, bool watched);
QString words(ResultKind kind);
} // namespace Marks

class MarkDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // Leaves room for a mark on every row, so the addresses stay in line.
    void setRoomForMarks(bool room) { m_room = room; }
    // Leaves room for an eye beside the mark on every row, while any contact is watched.
    void setRoomForEyes(bool room) { m_eyes = room; }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    bool m_room = false;
    bool m_eyes = false;
};
