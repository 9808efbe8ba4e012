// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/RowFilter.h"

#include "contacts/ContactListModel.h"

#include <algorithm>
#include <iterator>

RowFilter::RowFilter(std::vector<ContactListModel*> models) : m_models(std::move(models)) {}

RowFilter::~RowFilter() {
    if (!active())
        return;
    for (ContactListModel* model : m_models) {
        model->beginShowing();
        model->endShowing(nullptr);
    }
}

void RowFilter::setFound(std::optional<std::vector<quint32>> rows) {
    m_found = std::move(rows);
    apply();
}

void RowFilter::setOnline(std::optional<std::vector<quint32>> rows) {
    m_online = std::move(rows);
    apply();
}

qint64 RowFilter::shown() const {
    return m_models.empty() ? 0 : m_models.front()->rowCount();
}

// With one filter on, the lists read its rows as they are; only both at once need a vector of
// their own.
void RowFilter::apply() {
    for (ContactListModel* model : m_models)
        model->beginShowing();
    m_shown.clear();
    const std::vector<quint32>* rows = m_found ? &*m_found : m_online ? &*m_online : nullptr;
    if (m_found && m_online) {
        std::set_intersection(m_found->begin(), m_found->end(), m_online->begin(), m_online->end(),
                              std::back_inserter(m_shown));
        rows = &m_shown;
    }
    m_shown.shrink_to_fit();
    for (ContactListModel* model : m_models)
        model->endShowing(rows);
}
