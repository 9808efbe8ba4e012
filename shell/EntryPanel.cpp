// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/EntryPanel.h"

#include "shell/ClickableLabel.h"

#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {
// The user's own moves into a box empty it; focus that merely comes back, from another window, a
// message box or a pop-up menu, leaves the text alone.
bool userMovedIn(Qt::FocusReason why) {
    return why != Qt::ActiveWindowFocusReason && why != Qt::PopupFocusReason && why != Qt::MenuBarFocusReason;
}
} // namespace

EntryPanel::EntryPanel(MainControls& controls, const MainLayout& layout, QObject* parent)
    : QObject(parent), c(controls), table(layout) {
    c.txtName->installEventFilter(this);
    c.txtEmail->installEventFilter(this);
}

void EntryPanel::open() {
    c.Image4->show();
    c.setPictures(table.panelOpen);
    c.setListHeights(table.listOpenHeight);
    QWidget* const shown[] = {c.Label3, c.Label4, c.txtName, c.txtEmail, c.cmdAdd};
    for (QWidget* w : shown)
        w->show();
    giveFocus(c.txtName);
    QWidget::setTabOrder(c.txtName, c.txtEmail);
    letKeyboardReachHotSpot();
}

void EntryPanel::close() {
    // Hiding the box that holds the focus would hand it to the next box, which would empty that
    // one: the focus goes back where the panel was opened.
    const QWidget* focused = c.client->focusWidget();
    if (focused == c.txtName || focused == c.txtEmail || focused == c.cmdAdd || focused == c.Image4)
        c.lblAdd->setFocus(Qt::OtherFocusReason);
    QWidget* const hidden[] = {c.Image4, c.Label3, c.Label4, c.txtName, c.txtEmail, c.cmdAdd};
    for (QWidget* w : hidden)
        w->hide();
    c.setListHeights(table.lvName.height());
    c.setPictures(table.panelClosed);
    letKeyboardReachHotSpot();
}

void EntryPanel::giveFocus(QLineEdit* box) {
    box->setFocus();
    // Receiving the focus empties the box, also where the platform sends no focus event because
    // the window is not active.
    box->clear();
}

// The keyboard reaches the hot spot only where the mouse can: a picture shown over it takes both.
void EntryPanel::letKeyboardReachHotSpot() {
    const bool reachable = c.client->childAt(c.lblAdd->geometry().center()) == c.lblAdd;
    c.lblAdd->setFocusPolicy(reachable ? Qt::TabFocus : Qt::NoFocus);
}

bool EntryPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn && userMovedIn(static_cast<QFocusEvent*>(event)->reason()) &&
        (watched == c.txtName || watched == c.txtEmail))
        static_cast<QLineEdit*>(watched)->clear(); // txtName_GotFocus, txtEmail_GotFocus
    return QObject::eventFilter(watched, event);
}
