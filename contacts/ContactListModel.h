// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One column of the contact list (names or addresses) over the contact store. It keeps no text of
// its own: a row is decoded from the store when a view asks for it, so a list of a million rows
// costs the model nothing. The list may show only some rows (a
// filter): then it maps its rows to the store's through a vector of store rows, 4 bytes a row,
// which both lists share so they stay in step.

#include "contacts/ContactStore.h"

#include <QAbstractListModel>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class ContactListModel : public QAbstractListModel {
    Q_OBJECT
public:
    // What a row shows beyond its text (a mark, a tooltip, words for a screen reader), by store row.
    using Extra = std::function<QVariant(qint32 storeRow, int role)>;

    ContactListModel(const ContactStore& store, ContactField column, const QString& header,
                     QObject* parent = nullptr);

    // The rows the store has gained since the last call join the list, in one insertion. While the
    // list shows only some rows, whoever chose them decides.
    void showNewRows();
    // The store's rows changed in place or went: the list starts again from them.
    void reset();
    // Store rows, ascending, shared with whoever chose them and never changed; null: every row.
    using Rows = std::shared_ptr<const std::vector<quint32>>;
    // Only these rows, from endShowing() on.
    void beginShowing();
    void endShowing(Rows rows);
    bool filtered() const { return m_shown != nullptr; }

    void setExtra(Extra extra) { m_extra = std::move(extra); }
    // What the extra data says may have changed: the rows on screen are painted again.
    void extraChanged();

    qint32 storeRow(int row) const;
    // The list's row of a store row, or -1 when it is not shown.
    int rowOf(qint32 storeRow) const;
    QString text(int row) const;
    QString header() const { return m_header; }

    Qt::ItemFlags flags(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const ContactStore& m_store;
    ContactField m_column;
    QString m_header;
    int m_rows = 0; // of the store shown when every row is
    Rows m_shown;
    Extra m_extra;
};
