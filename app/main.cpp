#include "shell/CommandLine.h"
#include "shell/Keyring.h"
#include "shell/MainWindow.h"
#include "shell/SignInWindow.h"
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
    CommandLine::useServer(options.server);
    Keyring::setProgram(Keyring::makeSystem());

    auto* signIn = new SignInWindow;
    signIn->show();
    const int code = QApplication::exec();
    MainWindow::destroyInstance();
    return code;
}
