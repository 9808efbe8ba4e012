// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// velmora [--help] [--version] [--server host[:port]] [--tray]
namespace CommandLine {

// Answers --help and --version on the terminal, before any window or display is needed: the exit
// code once answered, nullopt when the program is to start.
std::optional<int> answerWithoutWindow(int argc, char** argv);

struct Options {
    QString server; // --server, as given; empty when not given
    bool tray = false; // --tray: start in the tray, signed in with the stored account
    QString error;  // set when the command line cannot be used; say it and end
};
// The command line of a start that goes on, once the application has taken out Qt's own options.
Options parse(const QStringList& arguments);

// Where the dispatch server's host[:port] comes from: the first of these that is set wins.
enum class ServerSource { CommandLine, Environment, Settings, Default };
struct ServerChoice {
    QString setting; // empty for Default
    ServerSource source = ServerSource::Default;
};
ServerChoice chooseServer(const QString& commandLine, const QString& environment, const QString& settings);
// The choice with VELMORA_DISPATCH_SERVER and the settings file's [SignIn] Server as they are now.
ServerChoice currentServer(const QString& commandLine);

} // namespace CommandLine
