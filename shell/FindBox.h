// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "contacts/ContactSearch.h"

#include <QObject>
#include <functional>

class RowFilter;
struct MainControls;

// The find box over the lists (Ctrl+F): typing leaves both lists with the contacts whose name or
// address holds the text, Enter or Down goes on into the e-mail list, and Esc closes the box and
// gives the lists back as they were.
class FindBox : public QObject {
public:
    FindBox(MainControls& controls, const ContactStore& store, RowFilter& filter, std::function<void()> shownChanged,
            QObject* parent);

    void open();
    void close();
    // A contact joined the lists: shown when it matches what is typed.
    void contactAdded();
    void rowsChanged() { contactAdded(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void search(const QString& text);

    MainControls& c;
    RowFilter& m_filter;
    std::function<void()> m_shownChanged;
    ContactSearch m_search;
};
