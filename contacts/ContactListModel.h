#pragma once
// One column of the contact list (names or addresses) over the contact store. It keeps no text of
// its own: a row is decoded from the store when a view asks for it, so a list of a million rows
// costs the model nothing. Rows are only ever appended.

#include "contacts/ContactStore.h"

#include <QAbstractListModel>
#include <QString>

class ContactListModel : public QAbstractListModel {
    Q_OBJECT
public:
    ContactListModel(const ContactStore& store, ContactField column, const QString& header,
                     QObject* parent = nullptr);

    // The rows the store has gained since the last call join the list, in one insertion.
    void showNewRows();

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
    int m_rows = 0;
};
