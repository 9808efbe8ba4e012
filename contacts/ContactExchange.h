// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Contacts to and from other programs' files: CSV as mail programs export address books, vCard,
// and MSN Messenger's own contact list (.ctt). Plain functions over bytes; no widgets.

#include "contacts/ContactFile.h"

#include <QByteArray>
#include <QIODevice>
#include <QList>
#include <QString>

#include <functional>

namespace exchange {

enum class Format { Csv, VCard, Ctt };

struct Imported {
    QList<ContactRecord> contacts; // in the file's order; one per e-mail address
    QList<qint64> unreadableLines; // 1-based
    QString error;                 // the file as a whole could not be read; then no contacts
};

// Files larger than this are not read: no address book is, and memory stays bounded.
inline constexpr qint64 kMaxImportBytes = 64 * 1024 * 1024;

Format formatOf(const QString& fileName, QByteArrayView bytes);
Imported importContacts(QByteArrayView bytes, Format format);
Imported importFile(const QString& path);

struct ExportRow {
    QString name;
    QString address;
    // In place of name and address when set: the fields' bytes as the contact file holds them.
    QByteArrayView nameBytes, addressBytes;
    QString result;   // the latest result in words, empty: never checked
    qint64 checkedAt = 0;  // ms since the epoch, 0: never
    qint64 seenOnlineAt = 0;
};
// RFC 4180 with a header row, UTF-8 with a byte order mark; a field a spreadsheet would take for a
// formula is written as text.
QByteArray csvOf(qint64 rows, const std::function<ExportRow(qint64)>& row);
// The same written to out a piece at a time; false when a write failed.
bool writeCsv(QIODevice* out, qint64 rows, const std::function<ExportRow(qint64)>& row);
// MSN Messenger's contact list: each address once.
QByteArray cttOf(qint64 rows, const std::function<QString(qint64)>& address);

} // namespace exchange
