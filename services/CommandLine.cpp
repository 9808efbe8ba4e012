// SPDX-License-Identifier: GPL-3.0-or-later
#include "services/CommandLine.h"

#include "contacts/ContactLocation.h"
#include "session/Protocol.h"
#include "services/AccountStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <vector>

namespace CommandLine {
namespace {

const QString kServerKey = QStringLiteral("Server");
const QString kEnvironment = QStringLiteral("VELMORA_DISPATCH_SERVER");

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help = parser.addHelpOption();
    QCommandLineOption version = parser.addVersionOption();
    QCommandLineOption server{QStringLiteral("server"),
                              QStringLiteral("Sign the second account in at this dispatch server (port "
                                             "1863 unless given). Wins over VELMORA_DISPATCH_SERVER and over "
                                             "Server= in the [SignIn] section of the settings file."),
                              QStringLiteral("host[:port]")};
    QCommandLineOption tray{QStringLiteral("tray"),
                            QStringLiteral("Start hidden in the tray, signed in with the stored account, to "
                                           "watch contacts. Without a stored account and password the "
                                           "sign-in window shows as usual.")};

    Parser() {
        // Single-dash words stay whole: "-reverse" is Qt's option, not -r -e -v...
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            QStringLiteral("Velmora keeps a contact list of any length beside your messenger client and "
                           "tells whether a contact is online."));
        parser.addOption(server);
        parser.addOption(tray);
    }
};

QString serverText(const ServerChoice& choice) {
    const auto parsed = parseHostPort(choice.setting, kDispatchPort);
    const QString inUse = parsed ? QStringLiteral("%1:%2").arg(parsed->first).arg(parsed->second)
                                 : QStringLiteral("none");
    QString from;
    switch (choice.source) {
    case ServerSource::CommandLine:
        from = QStringLiteral("--server");
        break;
    case ServerSource::Environment:
        from = kEnvironment;
        break;
    case ServerSource::Settings:
        from = QStringLiteral("Server= in ") + AccountStore::filePath();
        break;
    case ServerSource::Default:
        return inUse + QStringLiteral(" (none named: the sign-in asks for one)");
    }
    if (!parsed)
        return inUse +
               QStringLiteral(" (\"%1\" from %2 is not host[:port])").arg(choice.setting, from);
    return inUse + QStringLiteral(" (from %1)").arg(from);
}

// What a user looking for their data wants to know, for --help and --version alike.
QString whereThingsAre(const QString& commandLineServer) {
    const QString contacts = ContactLocation::choose(QCoreApplication::applicationDirPath(),
                                                     qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());
    return QStringLiteral(
               "Contact file:    %1\n"
               "Settings file:   %2 (the password goes to the desktop's keyring when one answers)\n"
               "Dispatch server: %3\n")
        .arg(contacts, AccountStore::filePath(), serverText(currentServer(commandLineServer)));
}

} // namespace

std::optional<int> answerWithoutWindow(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Parser p;
    // Qt's own options are still in here; whatever is wrong with the rest is said once the
    // application has taken them out.
    p.parser.parse(arguments);
    const bool help = p.parser.isSet(p.help) || p.parser.isSet(QStringLiteral("help-all"));
    if (!help && !p.parser.isSet(p.version))
        return std::nullopt;

    // The usage line names the command, not the path a launcher reached it by.
    char name[] = "velmora";
    std::vector<char*> args(argv, argv + argc);
    args[0] = name;
    int count = argc;
    QCoreApplication app(count, args.data());
    QCoreApplication::setApplicationName(QStringLiteral("velmora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    const QString text = help ? p.parser.helpText() + QLatin1Char('\n')
                              : QStringLiteral("velmora %1\n"
                                               "License GPL-3.0-or-later: GNU GPL version 3 or later "
                                               "<https://gnu.org/licenses/gpl.html>.\n"
                                               "This is free software: you are free to change and redistribute "
                                               "it. There is NO WARRANTY, to the extent permitted by law.\n\n")
                                    .arg(QCoreApplication::applicationVersion());
    const QString server = p.parser.value(p.server);
    std::fputs(qPrintable(text + whereThingsAre(server)), stdout);
    return 0;
}

Options parse(const QStringList& arguments) {
    Options options;
    Parser p;
    const QString name = QStringLiteral("velmora");
    if (!p.parser.parse(arguments)) {
        options.error = QStringLiteral("%1: %2\nTry '%1 --help'.").arg(name, p.parser.errorText());
        return options;
    }
    if (!p.parser.positionalArguments().isEmpty()) {
        options.error = QStringLiteral("%1: unexpected argument '%2'\nTry '%1 --help'.")
                            .arg(name, p.parser.positionalArguments().constFirst());
        return options;
    }
    options.server = p.parser.value(p.server).trimmed();
    options.tray = p.parser.isSet(p.tray);
    if (p.parser.isSet(p.server) && !parseHostPort(options.server, kDispatchPort))
        options.error = QStringLiteral("%1: --server wants host[:port] with a port from 1 to 65535, not '%2'")
                            .arg(name, p.parser.value(p.server));
    return options;
}

ServerChoice chooseServer(const QString& commandLine, const QString& environment, const QString& settings) {
    if (!commandLine.trimmed().isEmpty())
        return {commandLine.trimmed(), ServerSource::CommandLine};
    if (!environment.trimmed().isEmpty())
        return {environment.trimmed(), ServerSource::Environment};
    if (!settings.trimmed().isEmpty())
        return {settings.trimmed(), ServerSource::Settings};
    return {};
}

ServerChoice currentServer(const QString& commandLine) {
    return chooseServer(commandLine, qEnvironmentVariable(qPrintable(kEnvironment)),
                        AccountStore::get(kServerKey, QString()));
}

} // namespace CommandLine
