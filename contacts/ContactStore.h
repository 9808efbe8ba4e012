// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The contact store: one per program, alive for the whole run.
//
// The records read from the file stay as the file's bytes, read in one go, beside the offset where
// each record's line starts; a field becomes text only when it is asked for (a list painting its
// row, a check, a copy). A million contacts then cost little more than the file itself. Contacts
// added in the run are kept apart, as text, until a save writes them.
//
// The bytes up to fileEnd are the file as it was last read or saved. An edited record is written
// after them and its row points there, so every row, edited or not, is read the same way. A save
// with only additions appends them; one that carries a removal or an edit rewrites the file,
// every line it did not change copied byte for byte.

#include "contacts/ContactFile.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <vector>

inline constexpr qint32 kContactSlots = 999999;

class ContactStore {
public:
    // Reads the file and keeps its records after those already loaded. Records beyond
    // kContactSlots are counted in leftOut; the file keeps them.
    LoadResult load(const QString& path);
    // False, and nothing changes, when kContactSlots contacts have been added already.
    bool add(const QString& name, const QString& email);
    // False for a row that is not there.
    bool edit(qint32 row, const QString& name, const QString& email);
    // The rows go in one step, which undoRemove puts back whole. Rows that are not there are passed over.
    void remove(std::vector<qint32> rows);
    bool canUndoRemove() const { return !m_undo.empty(); }
    // Puts the last removal that is not yet put back where it was, and returns its rows. Once a
    // save has taken the rows out of the file, they come back as contacts added in this run.
    std::vector<qint32> undoRemove();

    // Writes what changed since the file was read or saved: additions are appended; removals and
    // edits rewrite the file. The added contacts that reach the disk are marked saved, also when
    // an append fails part-way, so no contact is ever written twice and none that is missing from
    // the file is marked saved. A file that someone else changed meanwhile is not overwritten
    // with this run's view of it: the additions join it, the removals and edits apply to the
    // lines still there as they were read, and the rows become the file's (fileChanged).
    SaveResult save(const QString& path);
    SaveResult appendUnsaved(const QString& path) { return save(path); }
    bool hasUnsavedChanges() const { return !m_added.isEmpty() || !m_removed.isEmpty() || !m_editedFrom.isEmpty(); }
    void clear();

    qint32 ContactCount() const { return qint32(m_lineStarts.size()); }  // rows that are in the file
    qint32 NewContactCount() const { return qint32(m_runAdded.size()); } // contacts added in this run
    qint32 SavedContactCount() const { return m_runSaved; }               // of those, written since

    // The rows of the lists: the file's records in file order, then the added contacts in the
    // order they were added. Empty text past the last row.
    qint32 rowCount() const { return qint32(m_lineStarts.size() + m_added.size()); }
    QString rowField(qint32 row, ContactField field) const;
    // The bytes of a row's two fields as the file holds them; false for a contact not yet saved.
    bool rowBytes(qint32 row, QByteArrayView* name, QByteArrayView* email) const;
    // Grows whenever rows go, come back or change, so that whoever keeps rows knows to look again.
    quint64 generation() const { return m_generation; }

    // ContactName[slot], ContactEmail[slot], 1 to kContactSlots: the k-th added contact sits in
    // slot k, over the k-th loaded record, which the lists still show.
    QString ContactName(qint32 slot) const { return slotField(slot, ContactField::Name); }
    QString ContactEmail(qint32 slot) const { return slotField(slot, ContactField::Email); }

    // What the rows are made of, for reading them in bulk (a search): the bytes, where each of the
    // file's rows starts in them, and the added contacts.
    const QByteArray& bytes() const { return m_bytes; }
    const QList<qsizetype>& lineStarts() const { return m_lineStarts; }
    const QList<ContactRecord>& added() const { return m_added; }

private:
    struct Change {
        qsizetype at = 0;         // where the line starts in the file
        qsizetype end = 0;        // past its line end
        qsizetype arena = -1;     // the edited record in m_bytes, or -1: the line goes
        qsizetype contentEnd = 0; // where its line end starts
    };
    struct RemovedRow {
        qint32 row = 0;
        qsizetype start = -1; // in m_bytes; -1: an added contact, kept as text
        qsizetype origin = -1;
        ContactRecord text;
    };
    struct Removal {
        std::vector<RemovedRow> rows;
        quint64 saves = 0;
    };

    QString slotField(qint32 slot, ContactField field) const;
    QString loadedField(qint32 index, ContactField field) const;
    qsizetype originOf(qsizetype start) const { return start < m_fileEnd ? start : m_editedFrom.value(start); }
    ParseStats indexRecords(qsizetype base, qint64* leftOut);
    SaveResult appendAdded(const QString& path);
    SaveResult rewrite(const QString& path);
    std::vector<Change> changesByPlace() const;
    std::vector<Change> changesByContent(QByteArrayView disk) const;

    QByteArray m_bytes;            // the file as read or saved, then edited records
    qsizetype m_fileEnd = 0;
    QList<qsizetype> m_lineStarts; // where each of the file's rows starts in m_bytes
    QList<ContactRecord> m_added;  // not yet in the file
    QList<ContactRecord> m_runAdded;
    qint32 m_runSaved = 0;
    QSet<qsizetype> m_removed;                // lines of the file that the next save leaves out
    QHash<qsizetype, qsizetype> m_editedFrom; // edited record -> the line it replaces
    // The file as it stood when this run last read or wrote it: a rewrite that finds it so
    // trusts the bytes it holds instead of reading them again.
    struct Stamp {
        quint64 device = 0, inode = 0;
        qint64 size = -1, modifiedNs = 0, changedNs = 0;
        friend bool operator==(const Stamp&, const Stamp&) = default;
    };
    static Stamp stampOf(const QString& path);
    Stamp m_stamp;
    std::vector<Removal> m_undo;
    quint64 m_saves = 0;
    quint64 m_generation = 0;
};
