// SPDX-License-Identifier: GPL-3.0-or-later
#include "contacts/ContactEntry.h"

#include "contacts/ContactFile.h"
#include "contacts/ContactStore.h"

EntryVerdict judgeNewContact(const QString& name, const QString& email,
                             const std::optional<QString>& ownAddress, qint32 addedSoFar) {
    if (email.isEmpty() || (ownAddress && *ownAddress == email))
        return EntryVerdict::NotAddable;
    if (!isStorable(name) || !isStorable(email))
        return EntryVerdict::Unstorable;
    if (addedSoFar >= kContactSlots)
        return EntryVerdict::ListFull;
    return EntryVerdict::Add;
}

QString entryConfirmation(const QString& name, const QString& email) {
    return name + QStringLiteral(": ") + email + QStringLiteral("\r\nIs this correct?");
}
