// SPDX-License-Identifier: GPL-3.0-or-later
// A messenger client that takes every question and answers none, on a bus of the test's own: the
// window must go on as if it were not there.
#include "messenger/PurpleMessenger.h"
#include "shell/MainWindow.h"
#include "contacts/ContactFile.h"
#include "tests/support/ShellHarness.h"

#include <QAbstractItemView>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {
class SilentClient : public QDBusVirtualObject {
public:
    int asked = 0;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
        message.setDelayedReply(true); // and never replies
        ++asked;
        return true;
    }
    QString introspect(const QString&) const override { return {}; }
};
} // namespace

class HungClientTest : public QObject {
    Q_OBJECT

    QProcess bus;
    SilentClient client;

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            QSKIP("dbus-daemon is not installed");
        bus.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                  QStringLiteral("--print-address=1")});
        QVERIFY(bus.waitForStarted(5000));
        QVERIFY(bus.waitForReadyRead(5000));
        const QString address = QString::fromLatin1(bus.readLine()).trimmed();
        QVERIFY(!address.isEmpty());
        // Before anything in this process opens the session bus.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
        QDBusConnection own = QDBusConnection::connectToBus(address, QStringLiteral("silent client"));
        QVERIFY(own.registerVirtualObject(QStringLiteral("/im/pidgin/purple/PurpleObject"), &client));
        QVERIFY(own.registerService(QStringLiteral("im.pidgin.purple.PurpleService")));
    }
    void cleanupTestCase() {
        QDBusConnection::disconnectFromBus(QStringLiteral("silent client"));
        bus.terminate();
        bus.waitForFinished(5000);
    }

    void theWindowGoesOnWhileAnActionWaits() {
        ShellHarness h;
        h.client = std::make_unique<PurpleMessenger>(h.desktop);
        h.writeContactFile(encodeRecord("Ann", "ann@x"));
        MainWindow* w = h.mainWindow(Layout::Full);
        w->show();
        QTRY_VERIFY(client.asked > 0);
        auto* list = w->findChild<QAbstractItemView*>("lvEmail");
        list->selectionModel()->select(list->model()->index(0, 0), QItemSelectionModel::ClearAndSelect);

        bool ticked = false;
        QTimer::singleShot(50, [&] { ticked = true; });
        w->lvEmail_DblClick();
        // The user's next click gets its answer while the client still has not given one.
        QTest::mouseClick(w->findChild<QWidget*>("lblAdd"), Qt::LeftButton);
        QVERIFY(w->findChild<QWidget*>("txtName")->isVisible());
        QVERIFY(h.dialogs.shown.empty());
        QTRY_VERIFY(ticked);
        QVERIFY(h.dialogs.shown.empty());

        // A client that does not answer takes nothing: the desktop's msnim: handler does, once.
        QTRY_COMPARE_WITH_TIMEOUT(h.openedLinks, QStringList{"msnim:chat?contact=ann@x"}, 10000);
        QTest::qWait(ContactActions::answerWaitMs); // nothing more comes of it
        QCOMPARE(h.openedLinks, QStringList{"msnim:chat?contact=ann@x"});
        QVERIFY(h.dialogs.shown.empty());
    }
};

QTEST_MAIN(HungClientTest)
#include "test_hungclient.moc"
