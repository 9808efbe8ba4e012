// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The contact store: one per program, alive for the whole run.
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

    qint32 ContactCount() const { return m_loadedCount; }         // records read from the file in this run
    qint32 NewContactCount() const { return m_addedCount; }       // contacts added in this run
    qint32 SavedContactCount() const { return m_savedCount; }     // of those, already in the file

    // The rows of the lists: the loaded records in file order, then the added contacts in the
    // order they were added. Empty text past the last row.
    qint32 rowCount() const { return m_loadedCount + m_addedCount; }
    QString rowField(qint32 row, ContactField field) const;

    // ContactName[slot], ContactEmail[slot], 1 to kContactSlots: the k-th added contact sits in
    // slot k, over the k-th loaded record, which the lists still show.
    QString ContactName(qint32 slot) const { return slotField(slot, ContactField::Name); }
    QString ContactEmail(qint32 slot) const { return slotField(slot, ContactField::Email); }

    // What the rows are made of, for reading them in bulk (a search): the loaded file's bytes,
    // where each loaded row's line starts in them, and the added contacts.
    const QByteArray& bytes() const { return m_bytes; }
    const QList<qsizetype>& lineStarts() const { return m_lineStarts; }
    const QList<ContactRecord>& added() const { return m_added; }

private:
    QString slotField(qint32 slot, ContactField field) const;
    QString loadedField(qint32 index, ContactField field) const;

    QByteArray m_bytes;            // the file as read; a later load follows it on a line of its own
    QList<qsizetype> m_lineStarts; // where each loaded record's line starts in m_bytes
    QList<ContactRecord> m_added;
    qint32 m_loadedCount = 0;
    qint32 m_addedCount = 0;
    qint32 m_savedCount = 0;
};
