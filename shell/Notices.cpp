// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Notices.h"

#include "contacts/ContactFile.h"
#include "session/CheckDatabase.h"
#include "services/ProgramSettings.h"

namespace Notices {

QStringList load(const LoadResult& result, const QString& contactFile) {
    QStringList notices;
    if (result.status == LoadStatus::FolderMissing)
        notices << QStringLiteral(
                       "The folder for your contact list is missing, so no contacts were loaded and "
                       "saving will fail until it exists.\n\n%1")
                       .arg(result.error);
    if (result.status == LoadStatus::ReadError)
        notices << QStringLiteral("Your contact list could not be read.\n\n%1").arg(result.error);
    if (result.stats.damagedLines > 0)
        notices << QStringLiteral(
                       "%1 damaged line(s) in your contact file could not be read and were skipped. "
                       "They stay in the file; every other contact was loaded.\n\n%2")
                       .arg(result.stats.damagedLines)
                       .arg(contactFile);
    if (result.leftOut > 0)
        notices << QStringLiteral("Your contact file holds more contacts than Velmora can show: %1 were left "
                                  "out. They stay in the file.")
                       .arg(result.leftOut);
    return notices;
}

QString database(const CheckDatabase& database) {
    const QString path = database.path();
    switch (database.state()) {
    case CheckDatabase::State::Open:
        return {};
    case CheckDatabase::State::Renewed:
        return QStringLiteral("Velmora's own database, %1, was damaged. It was set aside as %2 and a new one "
                              "started: check results from before are gone. Your contacts are not affected.\n\n"
                              "The second account's allow list may hold contacts Velmora put there and can no "
                              "longer take off%3")
            .arg(path, database.setAsidePath(),
                 database.stranded().isEmpty()
                     ? QStringLiteral(".")
                     : QStringLiteral(": %1.").arg(database.stranded().join(QStringLiteral(", "))));
    case CheckDatabase::State::Locked:
    case CheckDatabase::State::Newer:
    case CheckDatabase::State::Unusable:
        break;
    }
    const QString why = database.state() == CheckDatabase::State::Locked
                            ? QStringLiteral("another program is using it")
                        : database.state() == CheckDatabase::State::Newer
                            ? QStringLiteral("a newer Velmora laid it out, so this one leaves it as it is")
                            : QStringLiteral("it could not be opened: %1").arg(database.problem());
    return QStringLiteral("Velmora cannot use its own database, %1, because %2. In this run check results are "
                          "not kept beyond the run, and contacts on none of your second account's lists cannot "
                          "be checked. Your contacts are not affected.")
        .arg(path, why);
}

QString noClient() {
    return QStringLiteral("No messenger client is running (Pidgin or Finch); status checks work without one.");
}

QString saveFailed(const QString& error, bool leavingCalledOff) {
    const QString leaving =
        leavingCalledOff ? QStringLiteral("Velmora stays open: leaving was called off so that they are "
                                          "not lost.\n\n")
                         : QString();
    return QStringLiteral(
               "Your contacts were not saved.\n\n%1\n\n%2They are still here; try saving again once the "
               "problem is fixed.")
        .arg(error, leaving);
}

namespace {
// True the first time what is noted under key is about this path, across runs.
bool firstTold(const QString& key, const QString& path) {
    if (path.isEmpty())
        return false;
    QSettings settings = programSettings();
    if (settings.value(key).toString() == path)
        return false;
    settings.setValue(key, path);
    return true;
}
} // namespace

QString sharedDataFolder(const ContactLocation::Placement& placement) {
    if (!firstTold(QStringLiteral("Contacts/ToldOfSharedFolder"), placement.sharedFolder))
        return {};
    return QStringLiteral("The folder beside the program, %1, belongs to someone else or others may write in it, so "
                          "Velmora does not use it: anyone who can write there could plant files for Velmora to "
                          "open. Velmora keeps your list in %2. A list of yours in the shared folder stays as it "
                          "is; move it there yourself if you want it.")
        .arg(placement.sharedFolder, placement.file);
}

QString readOnlyContactFile(const ContactLocation::Placement& placement) {
    if (!firstTold(QStringLiteral("Contacts/ToldOf"), placement.readOnlyFile))
        return {};
    if (placement.copied)
        return QStringLiteral("Your contact list beside the program, %1, cannot be written there, so Velmora copied "
                              "it to %2 and keeps your list there from now on. The file beside the program stays "
                              "as it is.")
            .arg(placement.readOnlyFile, placement.file);
    return QStringLiteral("There is a contact list beside the program, %1, that Velmora cannot write there. Velmora "
                          "keeps your list in %2, which was there already, and leaves both files as they are.")
        .arg(placement.readOnlyFile, placement.file);
}

QString selectFirst() {
    return QStringLiteral("Please select a contact in the E-Mail list first.");
}

QString unstorable() {
    return QStringLiteral("A name or e-mail address cannot contain a double quote or a line break. Please change it "
                          "and try again.");
}

} // namespace Notices
