#include "shell/MainWindow.h"
#include "shell/SignInWindow.h"
#include "shell/Startup.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    prepareApplication();

    auto* signIn = new SignInWindow;
    signIn->show();
    const int code = QApplication::exec();
    MainWindow::destroyInstance();
    return code;
}
