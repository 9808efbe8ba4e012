#pragma once
// One column of the contact list (names or addresses). It keeps its own copy of the texts, as the
// store's slots may be overwritten by contacts added later. Rows are only ever appended.

#include <QAbstractListModel>
#include <QList>
#include <QString>

class ContactListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ContactListModel(const QString& header, QObject* parent = nullptr);

    void append(const QString& text);
    // The load fills thousands of rows at once; one insertion keeps the view from relaying out per row.
    void appendMany(const QList<QString>& texts);

    QString text(int row) const { return m_texts.at(row); }
    QString header() const { return m_header; }

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString m_header;
    QList<QString> m_texts;
};
