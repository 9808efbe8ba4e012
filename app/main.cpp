// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Program.h"
#include "services/CommandLine.h"
#include "services/SingleCopy.h"
#include "shell/Dialogs.h"
#include "shell/Startup.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char** argv) {
    if (const std::optional<int> answered = CommandLine::answerWithoutWindow(argc, argv))
        return *answered;

    QApplication app(argc, argv);
    prepareApplication();
    const CommandLine::Options options = CommandLine::parse(QApplication::arguments());
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(options.error));
        return 2;
    }

    SingleCopy copy(SingleCopy::defaultLockPath());
    switch (copy.claim()) {
    case SingleCopy::Claim::HandedOver:
        return 0;
    case SingleCopy::Claim::NoAnswer:
        Dialogs::show(nullptr,
                      QStringLiteral("Velmora is already running (process %1) but does not answer. Close it, "
                                     "or end that process, and start Velmora again.")
                          .arg(copy.holderPid()),
                      Dialogs::Buttons::Ok, Dialogs::Icon::Warning);
        return 1;
    case SingleCopy::Claim::First:
    case SingleCopy::Claim::Unguarded:
        break;
    }

    Program program(Platform::ofThisDesktop(options.server));
    QObject::connect(&copy, &SingleCopy::comeForward, [&program](const QString& token) { program.bringForward(token); });
    program.start(options.tray);
    return QApplication::exec();
}
