// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactListModel.h"

#include <algorithm>

ContactListModel::ContactListModel(const ContactStore& store, ContactField column, const QString& header,
                                   QObject* parent)
    : QAbstractListModel(parent), m_store(store), m_column(column), m_header(header) {}

void ContactListModel::showNewRows() {
    const int rows = m_store.rowCount();
    if (rows <= m_rows)
        return;
    if (m_shown) {
        m_rows = rows;
        return;
    }
    beginInsertRows(QModelIndex(), m_rows, rows - 1);
    m_rows = rows;
    endInsertRows();
}

void ContactListModel::reset() {
    beginResetModel();
    m_rows = m_store.rowCount();
    endResetModel();
}

void ContactListModel::beginShowing() {
    beginResetModel();
}

void ContactListModel::endShowing(Rows rows) {
    m_shown = std::move(rows);
    m_rows = m_store.rowCount();
    endResetModel();
}

void ContactListModel::extraChanged() {
    if (const int rows = rowCount(); rows > 0)
        emit dataChanged(index(0), index(rows - 1));
}

qint32 ContactListModel::storeRow(int row) const {
    if (row < 0 || row >= rowCount())
        return -1;
    return m_shown ? qint32((*m_shown)[size_t(row)]) : row;
}

int ContactListModel::rowOf(qint32 storeRow) const {
    if (!m_shown)
        return storeRow >= 0 && storeRow < m_rows ? storeRow : -1;
    const auto it = std::lower_bound(m_shown->begin(), m_shown->end(), quint32(storeRow));
    return it != m_shown->end() && *it == quint32(storeRow) ? int(it - m_shown->begin()) : -1;
}

QString ContactListModel::text(int row) const {
    const qint32 stored = storeRow(row);
    return stored < 0 ? QString() : m_store.rowField(stored, m_column);
}

Qt::ItemFlags ContactListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return {};
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

int ContactListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return m_shown ? int(m_shown->size()) : m_rows;
}

QVariant ContactListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != 0)
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row());
    QVariant extra = m_extra ? m_extra(storeRow(index.row()), role) : QVariant();
    // A tooltip that looks like markup is shown as markup: a name must never load a picture.
    if (role == Qt::ToolTipRole) {
        const QString tip = extra.isValid() ? extra.toString() : text(index.row());
        return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(tip.toHtmlEscaped());
    }
    return extra;
}

QVariant ContactListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_header;
    return {};
}
