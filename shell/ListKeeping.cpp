// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/ListKeeping.h"

#include "contacts/ContactEntry.h"
#include "contacts/ContactExchange.h"
#include "contacts/ContactListModel.h"
#include "contacts/ContactStore.h"
#include "session/CheckService.h"
#include "session/Watches.h"
#include "shell/Dialogs.h"
#include "shell/ListChecks.h"
#include "shell/MainControls.h"
#include "shell/Marks.h"
#include "shell/Notices.h"
#include "services/ProgramSettings.h"

#include <QDateTime>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QListView>
#include <QLocale>
#include <QSaveFile>
#include <QSet>

namespace {

// [CleanUp] NotSeenMonths: a whole number of months, at least one.
int staleMonths() {
    bool whole = false;
    const int months = programSettings().value(QStringLiteral("CleanUp/NotSeenMonths")).toString().toInt(&whole);
    return whole && months >= 1 ? months : 12;
}

QString number(qint64 n) {
    return QLocale().toString(n);
}


} // namespace

ListKeeping::ListKeeping(QWidget* window, MainControls& controls, const ProgramParts& parts, ListChecks& checks,
                         std::function<void(const std::vector<qint32>&)> rowsChanged,
                         std::function<std::optional<QString>()> ownAddress)
    : QObject(window), m_window(window), c(controls), m_parts(parts), m_checks(checks),
      m_rowsChanged(std::move(rowsChanged)), m_ownAddress(std::move(ownAddress)) {}

qint32 ListKeeping::selectedRow() const {
    const QModelIndexList rows = c.lvEmail->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : c.emailRows->storeRow(rows.first().row());
}

void ListKeeping::removeSelected() {
    const qint32 row = selectedRow();
    if (row < 0) {
        Dialogs::show(m_window, Notices::selectFirst());
        return;
    }
    const QString name = m_parts.contacts.rowField(row, ContactField::Name);
    const QString address = m_parts.contacts.rowField(row, ContactField::Email);
    if (Dialogs::show(m_window, QStringLiteral("Remove %1 (%2) from your list?").arg(name, address),
                      Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                      QStringLiteral("Remove Contact")) != Dialogs::Answer::Yes)
        return;
    removeRows({row});
}

void ListKeeping::removeRows(std::vector<qint32> rows) {
    ContactStore& store = m_parts.contacts;
    QSet<QString> addresses;
    for (qint32 row : rows)
        addresses.insert(store.rowField(row, ContactField::Email).toLower());
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const qint32 first = rows.empty() ? 0 : rows.front();
    m_parts.checks.rowsRemoved(rows);
    store.remove(std::move(rows));
    // The row that takes the place of the first one removed, else the one before it.
    m_rowsChanged({std::min(first, store.rowCount() - 1)});
    std::vector<Gone> gone;
    for (const QString& address : std::as_const(addresses)) {
        if (!m_checks.rowsOf(address).empty())
            continue;
        Gone g{address, m_parts.results.find(address), std::nullopt};
        if (m_parts.watches.contains(address))
            g.watchedOnline = m_parts.watches.knownOnline(address);
        if (g.result)
            m_parts.results.forget(address);
        if (g.watchedOnline)
            m_parts.watches.remove(address);
        if (g.result || g.watchedOnline)
            gone.push_back(std::move(g));
    }
    m_gone.push_back(std::move(gone));
}

bool ListKeeping::canUndo() const {
    return m_parts.contacts.canUndoRemove();
}

void ListKeeping::undoRemove() {
    if (!canUndo())
        return;
    const std::vector<qint32> back = m_parts.contacts.undoRemove();
    m_parts.checks.rowsPutBack(back);
    if (!m_gone.empty()) {
        for (const Gone& g : m_gone.back()) {
            if (g.result)
                m_parts.results.restore(g.address, *g.result);
            if (g.watchedOnline)
                m_parts.watches.add(g.address, *g.watchedOnline);
        }
        m_gone.pop_back();
    }
    m_rowsChanged(back);
}

void ListKeeping::editSelected() {
    const qint32 row = selectedRow();
    if (row < 0) {
        Dialogs::show(m_window, Notices::selectFirst());
        return;
    }
    ContactStore& store = m_parts.contacts;
    const QString oldName = store.rowField(row, ContactField::Name);
    const QString oldEmail = store.rowField(row, ContactField::Email);
    const auto changed = Dialogs::askContact(m_window, QStringLiteral("Edit Contact"), oldName, oldEmail);
    if (!changed || (changed->first == oldName && changed->second == oldEmail))
        return;
    const auto& [name, email] = *changed;
    if (Dialogs::show(m_window, entryConfirmation(name, email), Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                      QStringLiteral("Is this correct?")) != Dialogs::Answer::Yes)
        return;
    switch (judgeNewContact(name, email, m_ownAddress(), 0)) {
    case EntryVerdict::NotAddable:
        Dialogs::show(m_window, QStringLiteral("Sorry, we cant add that email to your database."));
        return;
    case EntryVerdict::Unstorable:
        Dialogs::show(m_window, Notices::unstorable());
        return;
    case EntryVerdict::ListFull:
    case EntryVerdict::Add:
        break;
    }
    store.edit(row, name, email);
    m_rowsChanged({row});
}

void ListKeeping::cleanUp() {
    ContactStore& store = m_parts.contacts;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int months = staleMonths();
    const qint64 cutoff = QDateTime::fromMSecsSinceEpoch(now).addMonths(-months).toMSecsSinceEpoch();
    QSet<QString> noAccount, stale;
    m_parts.results.forEach([&](const QString& address, const CheckResults::Result& r) {
        if (r.kind == ResultKind::NoSuchUser)
            noAccount.insert(address);
        // Only a contact known for that long can have been away that long.
        const qint64 first = r.firstCheckedAt ? r.firstCheckedAt
                             : r.seenOnlineAt ? std::min(r.checkedAt, r.seenOnlineAt)
                                              : r.checkedAt;
        if (first <= cutoff && r.seenOnlineAt < cutoff && r.kind != ResultKind::Online)
            stale.insert(address);
    });
    std::vector<qint32> duplicateRows, noAccountRows, staleRows;
    QSet<QString> seen;
    for (qint32 row = 0; row < store.rowCount(); ++row) {
        const QString address = store.rowField(row, ContactField::Email).toLower();
        if (seen.contains(address))
            duplicateRows.push_back(row);
        else
            seen.insert(address);
        if (noAccount.contains(address))
            noAccountRows.push_back(row);
        if (stale.contains(address))
            staleRows.push_back(row);
    }
    const auto chosen = Dialogs::askChoices(
        m_window, QStringLiteral("Clean Up List"), QStringLiteral("Remove from your list:"),
        {QStringLiteral("Duplicates: %1 rows whose address an earlier row holds").arg(number(duplicateRows.size())),
         QStringLiteral("No account: %1 contacts whose latest result is \"No such user\"")
             .arg(number(noAccountRows.size())),
         QStringLiteral("Not seen online for more than %1 months: %2 contacts")
             .arg(months)
             .arg(number(staleRows.size()))},
        {true, true, false}, QStringLiteral("Remove"));
    if (!chosen)
        return;
    std::vector<qint32> rows;
    for (const auto& [pick, these] : {std::pair{0, &duplicateRows}, {1, &noAccountRows}, {2, &staleRows}})
        if (chosen->value(pick))
            rows.insert(rows.end(), these->begin(), these->end());
    if (!rows.empty())
        removeRows(std::move(rows));
}

void ListKeeping::importContacts() {
    const std::optional<QString> path = Dialogs::openFileName(
        m_window, QStringLiteral("Import Contacts"),
        QStringLiteral("Address books (*.csv *.vcf *.vcard *.ctt);;CSV files (*.csv);;vCard files (*.vcf *.vcard);;"
                       "MSN Messenger contact lists (*.ctt);;All files (*)"));
    if (!path)
        return;
    const exchange::Imported in = exchange::importFile(*path);
    const QString file = QFileInfo(*path).fileName();
    if (!in.error.isEmpty()) {
        Dialogs::show(m_window, QStringLiteral("Cannot import %1: %2.").arg(file, in.error), Dialogs::Buttons::Ok,
                      Dialogs::Icon::Warning, QStringLiteral("Import Contacts"));
        return;
    }
    const std::optional<QString> own = m_ownAddress();
    QList<ContactRecord> fresh;
    QSet<QString> taken;
    qint64 already = 0;
    for (const ContactRecord& contact : in.contacts) {
        const QString key = contact.email.toLower();
        if (taken.contains(key) || !m_checks.rowsOf(key).empty() || (own && own->compare(key, Qt::CaseInsensitive) == 0)) {
            ++already;
            continue;
        }
        taken.insert(key);
        fresh.append(contact);
    }
    QString found = QStringLiteral("In %1: %2 new contacts, %3 already in your list.")
                        .arg(file, number(fresh.size()), number(already));
    if (!in.unreadableLines.isEmpty()) {
        QStringList lines;
        for (qint64 line : in.unreadableLines.mid(0, 20))
            lines << QString::number(line);
        if (in.unreadableLines.size() > 20)
            lines << QStringLiteral("and %1 more").arg(number(in.unreadableLines.size() - 20));
        found += QStringLiteral("\nLines that could not be read: %1.").arg(lines.join(QStringLiteral(", ")));
    }
    if (fresh.isEmpty()) {
        Dialogs::show(m_window, found, Dialogs::Buttons::Ok, Dialogs::Icon::Information,
                      QStringLiteral("Import Contacts"));
        return;
    }
    if (Dialogs::show(m_window, found + QStringLiteral("\n\nAdd the %1 new contacts?").arg(number(fresh.size())),
                      Dialogs::Buttons::YesNo, Dialogs::Icon::Question,
                      QStringLiteral("Import Contacts")) != Dialogs::Answer::Yes)
        return;
    const qint32 firstNew = m_parts.contacts.rowCount();
    qint64 added = 0;
    for (const ContactRecord& contact : std::as_const(fresh)) {
        if (!m_parts.contacts.add(contact.name, contact.email))
            break;
        ++added;
    }
    m_rowsChanged({firstNew});
    if (added < fresh.size())
        Dialogs::show(m_window,
                      QStringLiteral("Your contact list is full: %1 of the new contacts were added. Save, then "
                                     "start Velmora again to add more.")
                          .arg(number(added)),
                      Dialogs::Buttons::Ok, Dialogs::Icon::Warning, QStringLiteral("Import Contacts"));
}

void ListKeeping::exportContacts() {
    const QString csvFilter = QStringLiteral("CSV files (*.csv)");
    const QString cttFilter = QStringLiteral("MSN Messenger contact lists (*.ctt)");
    QString filter = csvFilter;
    std::optional<QString> path = Dialogs::saveFileName(m_window, QStringLiteral("Export Contacts"),
                                                       csvFilter + QStringLiteral(";;") + cttFilter, &filter);
    if (!path)
        return;
    const bool ctt = filter == cttFilter || path->endsWith(QLatin1String(".ctt"), Qt::CaseInsensitive);
    if (QFileInfo(*path).suffix().isEmpty())
        *path += ctt ? QStringLiteral(".ctt") : QStringLiteral(".csv");

    ContactStore& store = m_parts.contacts;
    bool shownOnly = false;
    if (c.emailRows->filtered()) {
        const Dialogs::Answer answer = Dialogs::show(
            m_window,
            QStringLiteral("Export only the %1 contacts the lists show now? No exports the whole list of %2.")
                .arg(number(c.emailRows->rowCount()), number(store.rowCount())),
            Dialogs::Buttons::YesNo, Dialogs::Icon::Question, QStringLiteral("Export Contacts"));
        if (answer == Dialogs::Answer::Closed)
            return;
        shownOnly = answer == Dialogs::Answer::Yes;
    }
    const qint64 rows = shownOnly ? c.emailRows->rowCount() : store.rowCount();
    auto storeRow = [&](qint64 i) { return shownOnly ? c.emailRows->storeRow(int(i)) : qint32(i); };

    QSaveFile out(*path);
    bool written = out.open(QIODevice::WriteOnly);
    if (written && ctt) {
        const QByteArray bytes =
            exchange::cttOf(rows, [&](qint64 i) { return store.rowField(storeRow(i), ContactField::Email); });
        written = out.write(bytes) == bytes.size();
    } else if (written) {
        QHash<QString, CheckResults::Result> results;
        m_parts.results.forEach(
            [&](const QString& address, const CheckResults::Result& r) { results.insert(address, r); });
        written = exchange::writeCsv(&out, rows, [&](qint64 i) {
            const qint32 row = storeRow(i);
            exchange::ExportRow r;
            if (!store.rowBytes(row, &r.nameBytes, &r.addressBytes)) {
                r.name = store.rowField(row, ContactField::Name);
                r.address = store.rowField(row, ContactField::Email);
            }
            if (results.isEmpty())
                return r;
            const QString address = r.addressBytes.data() ? decodeField(r.addressBytes) : r.address;
            if (const auto it = results.constFind(address.toLower()); it != results.cend()) {
                r.result = Marks::words(it->kind);
                r.checkedAt = it->checkedAt;
                r.seenOnlineAt = it->seenOnlineAt;
            }
            return r;
        });
    }
    if (!written || !out.commit()) {
        Dialogs::show(m_window, QStringLiteral("Cannot export the contacts to %1: %2.").arg(*path, out.errorString()),
                      Dialogs::Buttons::Ok, Dialogs::Icon::Warning, QStringLiteral("Export Contacts"));
        return;
    }
    m_checks.setNote(QStringLiteral("%1 contacts exported to %2").arg(number(rows), QFileInfo(*path).fileName()));
}
