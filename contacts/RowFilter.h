// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>
#include <memory>
#include <optional>
#include <vector>

class ContactListModel;

// Which store rows the lists show: every row, or those that pass every filter that is on (the
// contacts found by a search, the contacts online, the contacts watched). The result is one vector of store rows, 4
// bytes a row shown, shared by both lists so they stay in step.
class RowFilter {
public:
    explicit RowFilter(std::vector<ContactListModel*> models);
    // The lists show every row again when it goes.
    ~RowFilter();
    RowFilter(const RowFilter&) = delete;
    RowFilter& operator=(const RowFilter&) = delete;

    // nullopt: this filter is off. The rows must be ascending.
    void setFound(std::optional<std::vector<quint32>> rows);
    void setOnline(std::optional<std::vector<quint32>> rows);
    void setWatched(std::optional<std::vector<quint32>> rows);
    // The online filter's rows; null when it is off.
    const std::vector<quint32>* online() const { return m_online.get(); }
    const std::vector<quint32>* watched() const { return m_watched.get(); }
    bool active() const { return m_found || m_online || m_watched; }
    // Rows shown just now.
    qint64 shown() const;

private:
    void apply();

    using Rows = std::shared_ptr<const std::vector<quint32>>;
    static Rows share(std::optional<std::vector<quint32>> rows);

    std::vector<ContactListModel*> m_models;
    Rows m_found;  // null: off
    Rows m_online; // null: off
    Rows m_watched; // null: off
};
