// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPoint>

class QAbstractItemView;
class QTimer;
class QWidget;

// What the user does on the e-mail list, told apart: a click (once it is clear that no second
// click follows, so a double-click still reaches its conversation and no menu pops up over it),
// a double-click or Enter, and the menu key or Shift+F10.
class ContactListInput : public QObject {
    Q_OBJECT
public:
    explicit ContactListInput(QAbstractItemView* list);

    // Where the last click was let go, in global coordinates.
    QPoint clickedAt() const { return m_clickedAt; }

signals:
    void clicked();
    void doubleClicked();
    void menuKeyPressed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool mouse(QEvent* event);
    bool key(QEvent* event);

    QAbstractItemView* m_list;
    // Kept, not asked for: the viewport goes while the list is half destroyed.
    QWidget* m_viewport;
    QTimer* m_popupDelay;
    QPoint m_clickedAt;
    bool m_releaseEndsDoubleClick = false; // the release that follows a double-click is no click
};
