// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/FindBox.h"

#include "contacts/ContactListModel.h"
#include "contacts/RowFilter.h"
#include "shell/MainControls.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>

FindBox::FindBox(MainControls& controls, const ContactStore& store, RowFilter& filter,
                 std::function<void()> shownChanged, QObject* parent)
    : QObject(parent), c(controls), m_filter(filter), m_shownChanged(std::move(shownChanged)), m_search(store) {
    c.txtFind->installEventFilter(this);
    connect(c.txtFind, &QLineEdit::textEdited, this, &FindBox::search);
}

void FindBox::open() {
    if (c.txtFind->isHidden())
        c.showFindBox(true);
    c.txtFind->setFocus(Qt::ShortcutFocusReason);
    c.txtFind->selectAll();
}

void FindBox::close() {
    if (c.txtFind->isHidden())
        return;
    c.txtFind->clear();
    c.keepEmailSelection([&] { m_filter.setFound(std::nullopt); });
    m_search.forget();
    c.showFindBox(false);
    c.lvEmail->setFocus(Qt::OtherFocusReason);
    m_shownChanged();
}

void FindBox::search(const QString& text) {
    if (text.isEmpty()) {
        c.keepEmailSelection([&] { m_filter.setFound(std::nullopt); });
        m_search.forget();
    }
    else
        c.keepEmailSelection([&] { m_filter.setFound(m_search.find(text)); });
    m_shownChanged();
}

void FindBox::contactAdded() {
    if (!c.txtFind->isHidden() && !c.txtFind->text().isEmpty())
        search(c.txtFind->text());
}

bool FindBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched != c.txtFind || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Escape) {
        close();
        return true;
    }
    if (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) {
        // On into what was found: the first row, unless one is chosen already.
        c.lvEmail->setFocus(Qt::TabFocusReason);
        if (!c.lvEmail->selectionModel()->hasSelection() && c.emailRows->rowCount() > 0)
            c.lvEmail->setCurrentIndex(c.emailRows->index(0));
        return true;
    }
    return QObject::eventFilter(watched, event);
}
