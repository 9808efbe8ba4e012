// SPDX-License-Identifier: GPL-3.0-or-later
// A conversation the messenger client cannot take goes to the desktop's handler of msnim: links,
// found as the desktop finds it (xdg-utils), in XDG folders of the test's own.
#include "contacts/ContactFile.h"
#include "shell/MainWindow.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemView>
#include <QClipboard>
#include <QGuiApplication>
#include <QStandardPaths>
#include <QtTest>

class HandOffTest : public QObject {
    Q_OBJECT

    QTemporaryDir xdg;
    QString opened() const { return xdg.filePath("opened"); }
    QStringList openedLinks() const {
        QFile f(opened());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
    }

    static bool write(const QString& path, const QByteArray& text) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    }
    MainWindow* open(ShellHarness& h) {
        h.desktop = Desktop(); // the desktop's own handlers
        h.messenger->takes = false;
        h.writeContactFile(encodeRecord("Ann", "ann+tag@example.com"));
        MainWindow* w = h.mainWindow(Layout::Full);
        w->show();
        auto* list = w->findChild<QAbstractItemView*>("lvEmail");
        list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);
        return w;
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable("xdg-mime").isEmpty() || QStandardPaths::findExecutable("xdg-open").isEmpty())
            QSKIP("needs xdg-utils");
        for (const char* var : {"XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
            qputenv(var, xdg.filePath("none").toUtf8());
        qputenv("XDG_DATA_HOME", xdg.filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", xdg.filePath("config").toUtf8());
        qunsetenv("XDG_CURRENT_DESKTOP");
        qunsetenv("BROWSER");
        qputenv("DISPLAY", ":velmora-test"); // xdg-open looks for handlers only "with a display"
    }

    void aRegisteredHandlerTakesTheConversation() {
        const QString handler = xdg.filePath("handler.sh");
        QVERIFY(write(handler, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + opened().toUtf8() + "'\n"));
        QFile::setPermissions(handler, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(write(xdg.filePath("data/applications/test-msnim.desktop"),
                      "[Desktop Entry]\nType=Application\nName=Test messenger\nExec=" + handler.toUtf8() +
                          " %u\nMimeType=x-scheme-handler/msnim;\n"));
        QVERIFY(write(xdg.filePath("config/mimeapps.list"),
                      "[Default Applications]\nx-scheme-handler/msnim=test-msnim.desktop\n"));
        ShellHarness h;
        MainWindow* w = open(h);
        w->lvEmail_DblClick();
        QTRY_COMPARE_WITH_TIMEOUT(openedLinks(), QStringList{"msnim:chat?contact=ann%2Btag@example.com"}, 10000);
        w->mnuVConvo_Click();
        QTRY_COMPARE_WITH_TIMEOUT(openedLinks(),
                                  (QStringList{"msnim:chat?contact=ann%2Btag@example.com",
                                               "msnim:voice?contact=ann%2Btag@example.com"}),
                                  10000);
        QVERIFY2(h.dialogs.shown.empty(), qPrintable(h.dialogs.prompts().join('|')));
        QVERIFY(h.messenger->calls.isEmpty());
    }

    // Nothing takes it: one box says what would, and the address is on the clipboard.
    void withNoHandlerTheUserIsToldOnce() {
        QFile::remove(xdg.filePath("config/mimeapps.list"));
        QFile::remove(xdg.filePath("data/applications/test-msnim.desktop"));
        ShellHarness h;
        MainWindow* w = open(h);
        w->lvEmail_DblClick();
        QTRY_COMPARE(h.dialogs.shown.size(), size_t(1));
        QVERIFY(h.dialogs.shown[0].prompt.contains("msnim:"));
        QVERIFY(h.dialogs.shown[0].prompt.contains("ann+tag@example.com is on the clipboard"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("ann+tag@example.com"));
        QTest::qWait(200);
        QCOMPARE(h.dialogs.shown.size(), size_t(1));
    }
};

QTEST_MAIN(HandOffTest)
#include "test_handoff.moc"
