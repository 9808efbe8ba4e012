#include "contacts/ContactListModel.h"

ContactListModel::ContactListModel(const ContactStore& store, ContactField column, const QString& header,
                                   QObject* parent)
    : QAbstractListModel(parent), m_store(store), m_column(column), m_header(header) {}

void ContactListModel::showNewRows() {
    const int rows = m_store.rowCount();
    if (rows <= m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, rows - 1);
    m_rows = rows;
    endInsertRows();
}

QString ContactListModel::text(int row) const {
    if (row < 0 || row >= m_rows)
        return {};
    return m_store.rowField(row, m_column);
}

Qt::ItemFlags ContactListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return {};
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

int ContactListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

QVariant ContactListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.column() != 0)
        return {};
    if (role == Qt::DisplayRole)
        return text(index.row());
    // A tooltip that looks like markup is shown as markup: a name must never load a picture.
    if (role == Qt::ToolTipRole)
        return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text(index.row()).toHtmlEscaped());
    return {};
}

QVariant ContactListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_header;
    return {};
}
