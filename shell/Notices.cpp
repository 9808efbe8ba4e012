// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell/Notices.h"

#include "contacts/ContactFile.h"
#include "session/CheckDatabase.h"

#include <QSettings>

namespace Notices {

QStringList load(const LoadResult& result) {
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
                       .arg(contactFilePath());
    if (result.leftOut > 0)
        notices << QStringLiteral("Your contact file holds more contacts than Velmora can show: %1 were left "
                                  "out. They stay in the file.")
                       .arg(result.leftOut);
    return notices;
}

QString database(const CheckDatabase& database) {
    return QStringLiteral("Velmora could not use its own database, so in this run it cannot check contacts "
                          "that are on none of your second account's lists.\n\n%1\n%2")
        .arg(database.path(), database.problem());
}

QString noClient() {
    return QStringLiteral("No messenger client is running (Pidgin or Finch). Status checks work without one; "
                          "conversations, voice calls, e-mail and profiles need one running.");
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

QString readOnlyContactFile(const ContactLocation::Placement* placement) {
    if (!placement || placement->readOnlyFile.isEmpty())
        return {};
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tavlo"), QStringLiteral("Tavlo"));
    const QString told = QStringLiteral("Contacts/ToldOf");
    if (settings.value(told).toString() == placement->readOnlyFile)
        return {};
    settings.setValue(told, placement->readOnlyFile);
    if (placement->copied)
        return QStringLiteral("Your contact list beside the program, %1, cannot be written there, so Velmora copied "
                              "it to %2 and keeps your list there from now on. The file beside the program stays "
                              "as it is.")
            .arg(placement->readOnlyFile, placement->file);
    return QStringLiteral("There is a contact list beside the program, %1, that Velmora cannot write there. Velmora "
                          "keeps your list in %2, which was there already, and leaves both files as they are.")
        .arg(placement->readOnlyFile, placement->file);
}

} // namespace Notices
