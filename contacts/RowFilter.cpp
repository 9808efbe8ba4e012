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

RowFilter::Rows RowFilter::share(std::optional<std::vector<quint32>> rows) {
    if (!rows)
        return nullptr;
    rows->shrink_to_fit();
    return std::make_shared<const std::vector<quint32>>(std::move(*rows));
}

void RowFilter::setFound(std::optional<std::vector<quint32>> rows) {
    m_found = share(std::move(rows));
    apply();
}

void RowFilter::setOnline(std::optional<std::vector<quint32>> rows) {
    m_online = share(std::move(rows));
    apply();
}

void RowFilter::setWatched(std::optional<std::vector<quint32>> rows) {
    m_watched = share(std::move(rows));
    apply();
}

qint64 RowFilter::shown() const {
    return m_models.empty() ? 0 : m_models.front()->rowCount();
}

// With one filter on, the lists share its rows as they are; only more at once need a vector of
// their own.
void RowFilter::apply() {
    for (ContactListModel* model : m_models)
        model->beginShowing();
    Rows rows;
    for (const Rows& filter : {m_found, m_online, m_watched}) {
        if (!filter)
            continue;
        if (!rows) {
            rows = filter;
            continue;
        }
        std::vector<quint32> both;
        std::set_intersection(rows->begin(), rows->end(), filter->begin(), filter->end(), std::back_inserter(both));
        rows = share(std::move(both));
    }
    for (ContactListModel* model : m_models)
        model->endShowing(rows);
}
