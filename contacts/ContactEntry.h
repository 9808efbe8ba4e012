// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <optional>

// What becomes of a contact typed into the entry panel, once the user has confirmed it. Only an
// empty address, the user's own (exactly as the messenger client names it), and what the file
// could not hold are refused: an empty name, an address without "@" and a duplicate are added as
// they are.
enum class EntryVerdict {
    Add,
    NotAddable, // empty, or the user's own address
    Unstorable, // a double quote or a line break, which the file cannot hold
    ListFull,   // no slot left in this run
};

// ownAddress is nullopt when the messenger client cannot say it; then only the empty address is
// the user's own.
EntryVerdict judgeNewContact(const QString& name, const QString& email,
                             const std::optional<QString>& ownAddress, qint32 addedSoFar);

// The question the user confirms: the name, ": ", the address, then "Is this correct?".
QString entryConfirmation(const QString& name, const QString& email);
