// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The contact store: module-level, one per program, alive for the whole run.
//
// The records read from the file stay as the file's bytes, read in one go, beside the offset where
// each record's line starts; a field becomes text only when it is asked for (a list painting its
// row, a check, a copy). A million contacts then cost little more than the file itself. Contacts
// added in the run are kept apart, as text, until a save appends them.

#include "contacts/ContactFile.h"

#include <QByteArray>
#include <QList>
#include <QString>

inline constexpr qint32 kContactSlots = 999999;

class ContactStore {
public:
    // Reads the file and keeps its records after those already loaded. Records beyond
    // kContactSlots are counted in leftOut; the file keeps them.
    LoadResult load(const QString& path);
    // False, and nothing changes, when kContactSlots contacts have been added already.
    bool add(const QString& name, const QString& email);
    // Appends the added contacts that no save has written yet. The ones that reach the disk are
    // marked saved, also when the save then fails part-way, so no contact is ever written twice
    // and none that is missing from the file is marked saved.
    SaveResult appendUnsaved(const QString& path);
    void clear();

    constexpr const qint32& loadedCount() const { return m_loadedCount; }
    constexpr const qint32& addedCount() const { return m_addedCount; }
    constexpr const qint32& savedCount() const { return m_savedCount; }

    // The rows of the lists: the loaded records in file order, then the added contacts in the
    // order they were added. Empty text past the last row.
    qint32 rowCount() const { return m_loadedCount + m_addedCount; }
    QString rowField(qint32 row, ContactField field) const;

    // Slots as the rest of the program has always known them, 1 to kContactSlots: the k-th added
    // contact sits in slot k, over the k-th loaded record, which the lists still show.
    QString slotField(qint32 slot, ContactField field) const;

    // What the rows are made of, for reading them in bulk (a search): the loaded file's bytes,
    // where each loaded row's line starts in them, and the added contacts.
    const QByteArray& bytes() const { return m_bytes; }
    const QList<qsizetype>& lineStarts() const { return m_lineStarts; }
    const QList<ContactRecord>& added() const { return m_added; }

private:
    QString loadedField(qint32 index, ContactField field) const;

    QByteArray m_bytes;            // the file as read; a later load follows it on a line of its own
    QList<qsizetype> m_lineStarts; // where each loaded record's line starts in m_bytes
    QList<ContactRecord> m_added;
    qint32 m_loadedCount = 0;
    qint32 m_addedCount = 0;
    qint32 m_savedCount = 0;
};

// The program's store, and the names through which the rest of the program reaches it.
ContactStore& contactStore();

extern const qint32& ContactCount;      // records read from the file in this run
extern const qint32& NewContactCount;   // contacts added in this run
extern const qint32& SavedContactCount; // how many of the added contacts are already in the file

// ContactName[slot], ContactEmail[slot]: read-only; adding goes through addContact().
struct ContactSlots {
    ContactField field;
    const QString operator[](qint32 slot) const { return contactStore().slotField(slot, field); }
};
inline constexpr ContactSlots ContactName{ContactField::Name};
inline constexpr ContactSlots ContactEmail{ContactField::Email};

// Back to the state at program start.
void resetContactStore();
LoadResult loadContactStore(const QString& path);
bool addContact(const QString& name, const QString& email);
SaveResult appendUnsavedContacts(const QString& path);
