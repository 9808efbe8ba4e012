#include "contacts/ContactStore.h"

QString ContactName[kContactSlots + 1];
QString ContactEmail[kContactSlots + 1];
qint32 ContactCount = 0;
qint32 NewContactCount = 0;
qint32 SavedContactCount = 0;

void resetContactStore() {
    const qint32 used = qMax(ContactCount, NewContactCount);
    for (qint32 slot = 1; slot <= used; ++slot) {
        ContactName[slot] = QString();
        ContactEmail[slot] = QString();
    }
    ContactCount = 0;
    NewContactCount = 0;
    SavedContactCount = 0;
}

bool addContact(const QString& name, const QString& email) {
    if (NewContactCount >= kContactSlots)
        return false;
    ++NewContactCount;
    ContactName[NewContactCount] = name;
    ContactEmail[NewContactCount] = email;
    return true;
}

SaveResult appendUnsavedContacts(const QString& path) {
    EncodedRecords records;
    for (qint32 slot = SavedContactCount + 1; slot <= NewContactCount; ++slot)
        records.add(ContactName[slot], ContactEmail[slot]);
    const SaveResult result = appendContactRecords(path, records);
    SavedContactCount += qint32(result.recordsWritten);
    return result;
}
