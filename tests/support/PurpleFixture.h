// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>

// A real libpurple client for tests: finch with one IRC account on a local ngircd, a peer
// named "buddy" on that server, all on a private session bus (finch_fixture.sh beside this
// file does the work). finch starts signed out.
//
//     std::unique_ptr<PurpleFixture> purple;   // a test class member
//     void initTestCase() {
//         QString why;
//         if (!PurpleFixture::available(&why)) QSKIP(qPrintable(why));
//         purple = PurpleFixture::start(&why);
//         QVERIFY2(purple, qPrintable(why));
//     }
//
// start() points DBUS_SESSION_BUS_ADDRESS at the private bus. QtDBus reads that variable
// once, on the first QDBusConnection::sessionBus() of the process, and keeps that connection
// until the process ends, so:
//  - start the fixture before anything in the process uses the session bus (a tray icon,
//    a theme or the code under test may do so on its own);
//  - start it once per test program and share it between test functions: after the
//    fixture stops, its bus is gone and the process's session bus with it.
// start() checks this and refuses with a reason rather than testing against the wrong bus.
// To test a client that goes away and comes back, use stopClient() and startClient(),
// which keep the bus.
class PurpleFixture {
public:
    // Whether the tools are installed; when not, *whyNot says which is missing.
    static bool available(QString* whyNot = nullptr);
    // nullptr when the fixture does not come up; *whyNot then says why.
    static std::unique_ptr<PurpleFixture> start(QString* whyNot = nullptr);
    ~PurpleFixture(); // stops every process and removes the temp dir

    PurpleFixture(const PurpleFixture&) = delete;
    PurpleFixture& operator=(const PurpleFixture&) = delete;

    QString account() const { return accountName; } // finch's account, exactly "fixtureme@127.0.0.1"
    QString buddy() const { return buddyName; }     // the peer on the IRC server, "buddy"
    QString busAddress() const { return address; }
    QString dir() const { return directory; }

    // Calls a libpurple method on its own connection (not the process's session bus). The
    // reply's first value, or an invalid QVariant on error (*error says which). Arrays of
    // ids come back as QList<int>.
    QVariant call(const QString& method, const QVariantList& args = {}, QString* error = nullptr);
    QDBusMessage callMessage(const QString& method, const QVariantList& args = {});
    int accountId(); // 0 when finch is not there
    bool isConnected();

    // Activate an available (or offline) saved status and wait until the account, and the
    // IRC server, follow. bringOnline also reconnects an account that dropped on its own.
    bool bringOnline(int timeoutMs = 15000);
    bool goOffline(int timeoutMs = 10000);

    QStringList imConversationNames(); // who finch has IM windows open with
    void closeConversations();

    // finch alone stops (SIGTERM) or starts again (signed out); bus, server and buddy stay.
    bool stopClient();
    bool startClient();
    // finch stays on the bus but answers nothing (SIGSTOP), until thawed or stopped.
    bool freezeClient();
    bool thawClient();

    // Every line the IRC peer received (a message arrives as ":fixtureme!… PRIVMSG buddy :hi"),
    // and finch's debug log for failure messages.
    QString buddyLog() const;
    QString finchLog() const;

    // This fixture's own connection to the private bus.
    QDBusConnection bus() const;

private:
    PurpleFixture() = default;
    bool runScript(const QStringList& args, QString* output, QString* whyNot, int timeoutMs);
    bool waitForConnected(bool connected, int timeoutMs);
    bool waitForServerToDropNick(QDeadlineTimer deadline);

    QString script;
    QString address;
    QString directory;
    QString accountName;
    QString buddyName;
    QString connectionName;
    QByteArray previousAddress;
    bool hadPreviousAddress = false;
};
