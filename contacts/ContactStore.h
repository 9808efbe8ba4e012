#pragma once
// The contact store: module-level, one per program, alive for the whole run.
//
// Loaded records and added contacts share the slots: the n-th record read sits in slot n, the k-th
// contact added in the run in slot k. A loaded record is read out of its slot once, while the
// lists are filled, so an added contact overwriting it loses nothing; a save reads only the slots
// of added contacts.

#include "contacts/ContactFile.h"

#include <QString>

#include <utility>

inline constexpr qint32 kContactSlots = 999999;

// Slot 0 is unused. Both arrays have their full size from start-up and are never grown or copied;
// QString's constructor is constexpr, so they cost no start-up time.
extern QString ContactName[kContactSlots + 1];
extern QString ContactEmail[kContactSlots + 1];

extern qint32 ContactCount;      // records read from the file in this run
extern qint32 NewContactCount;   // contacts added in this run
extern qint32 SavedContactCount; // how many of the added contacts are already in the file

// Back to the state at program start.
void resetContactStore();

// Puts the contact into the next slot for added contacts. False, and nothing changes, when all
// 999999 are taken.
bool addContact(const QString& name, const QString& email);

// Appends the added contacts that no save has written yet. The ones that reach the disk are
// marked saved, also when the save then fails part-way, so no contact is ever written twice and
// none that is missing from the file is marked saved.
SaveResult appendUnsavedContacts(const QString& path);

// Reads the file into the slots after ContactCount and calls onStored(slot) for each stored
// record, in file order. Records beyond the last slot are counted in leftOut; the file keeps them.
template <class OnStored> LoadResult loadContactStore(const QString& path, OnStored&& onStored) {
    qint64 leftOut = 0;
    LoadResult result = readContactFile(path, [&](QString&& name, QString&& email) {
        if (ContactCount >= kContactSlots) {
            ++leftOut;
            return;
        }
        ++ContactCount;
        ContactName[ContactCount] = std::move(name);
        ContactEmail[ContactCount] = std::move(email);
        onStored(ContactCount);
    });
    result.leftOut = leftOut;
    return result;
}
