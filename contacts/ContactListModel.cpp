#include "contacts/ContactListModel.h"

ContactListModel::ContactListModel(const QString& header, QObject* parent)
    : QAbstractListModel(parent), m_header(header) {}

void ContactListModel::append(const QString& text) {
    const int row = int(m_texts.size());
    beginInsertRows(QModelIndex(), row, row);
    m_texts.append(text);
    endInsertRows();
}

void ContactListModel::appendMany(const QList<QString>& texts) {
    if (texts.isEmpty())
        return;
    const int first = int(m_texts.size());
    beginInsertRows(QModelIndex(), first, first + int(texts.size()) - 1);
    // Into an empty column the caller's list is taken over by sharing: a million rows cost no copy
    // until one side changes.
    if (m_texts.isEmpty())
        m_texts = texts;
    else
        m_texts.append(texts);
    endInsertRows();
}

// A tree view asks for every row's index and flags when it lays out; these answer without the
// generic checks.
QModelIndex ContactListModel::index(int row, int column, const QModelIndex& parent) const {
    if (parent.isValid() || column != 0 || row < 0 || row >= m_texts.size())
        return {};
    return createIndex(row, 0);
}

Qt::ItemFlags ContactListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return {};
    // No row has children, and saying so spares the view from asking each row.
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

int ContactListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_texts.size());
}

QVariant ContactListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_texts.size() || index.column() != 0)
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return m_texts.at(index.row());
    return {};
}

QVariant ContactListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_header;
    return {};
}
