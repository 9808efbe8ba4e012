// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "session/CheckResults.h"
#include "shell/ProgramParts.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class ListChecks;
class QWidget;
struct MainControls;

// Keeping the list: removing contacts (one, or a clean-up's many) and putting them back, editing
// one, and contacts to and from other programs' files. A contact's check result and watch go with
// the last row of its address and come back with it.
class ListKeeping : public QObject {
public:
    // rowsChanged: the store's rows changed; the store rows given are to be selected.
    ListKeeping(QWidget* window, MainControls& controls, const ProgramParts& parts, ListChecks& checks,
                std::function<void(const std::vector<qint32>&)> rowsChanged,
                std::function<std::optional<QString>()> ownAddress);

    void removeSelected();
    void undoRemove();
    bool canUndo() const;
    void editSelected();
    void cleanUp();
    void importContacts();
    void exportContacts();

private:
    struct Gone {
        QString address;
        std::optional<CheckResults::Result> result;
        std::optional<bool> watchedOnline; // watched, and whether the watch knew it online
    };
    qint32 selectedRow() const;
    void removeRows(std::vector<qint32> rows);

    QWidget* m_window;
    MainControls& c;
    ProgramParts m_parts;
    ListChecks& m_checks;
    std::function<void(const std::vector<qint32>&)> m_rowsChanged;
    std::function<std::optional<QString>()> m_ownAddress;
    std::vector<std::vector<Gone>> m_gone; // beside each removal the store can undo
};
