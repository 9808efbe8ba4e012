// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ContactListInput.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>

ContactListInput::ContactListInput(QAbstractItemView* list)
    : QObject(list), m_list(list), m_viewport(list->viewport()), m_popupDelay(new QTimer(this)) {
    m_popupDelay->setObjectName(QStringLiteral("popupDelay"));
    m_popupDelay->setSingleShot(true);
    connect(m_popupDelay, &QTimer::timeout, this, &ContactListInput::clicked);
    m_viewport->installEventFilter(this);
    list->installEventFilter(this);
}

bool ContactListInput::mouse(QEvent* event) {
    // A box the double-click opened may have taken its release: a new press is a new click.
    if (event->type() == QEvent::MouseButtonPress)
        m_releaseEndsDoubleClick = false;
    if (event->type() == QEvent::MouseButtonRelease) {
        // A double-click ends with a release of its own; it must not start the pop-up over the
        // conversation it opened.
        if (!std::exchange(m_releaseEndsDoubleClick, false)) {
            m_clickedAt = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
            m_popupDelay->start(QApplication::doubleClickInterval());
        }
    } else if (event->type() == QEvent::MouseButtonDblClick) {
        m_popupDelay->stop();
        m_releaseEndsDoubleClick = true;
        emit doubleClicked();
        return true;
    }
    return false;
}

bool ContactListInput::key(QEvent* event) {
    if (event->type() == QEvent::ContextMenu &&
        static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Keyboard) {
        emit menuKeyPressed(); // the Menu key, Shift+F10
        return true;
    }
    if (event->type() != QEvent::KeyPress)
        return false;
    const auto* k = static_cast<QKeyEvent*>(event);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
        emit doubleClicked();
        return true;
    }
    // Some platforms turn these keys into the event above, others do not.
    if (k->key() == Qt::Key_Menu || (k->key() == Qt::Key_F10 && k->modifiers() == Qt::ShiftModifier)) {
        emit menuKeyPressed();
        return true;
    }
    return false;
}

bool ContactListInput::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_viewport && mouse(event))
        return true;
    if (watched == m_list && key(event))
        return true;
    return QObject::eventFilter(watched, event);
}
