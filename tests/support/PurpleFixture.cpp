// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/PurpleFixture.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {

const QString Service = QStringLiteral("im.pidgin.purple.PurpleService");
const QString Path = QStringLiteral("/im/pidgin/purple/PurpleObject");
const QString Interface = QStringLiteral("im.pidgin.purple.PurpleInterface");
constexpr int CallTimeoutMs = 5000;

QString scriptPath() {
    const QString sources = qEnvironmentVariable("VELMORA_SOURCE_DIR");
    if (!sources.isEmpty() && QFile::exists(sources + QStringLiteral("/tests/support/finch_fixture.sh")))
        return sources + QStringLiteral("/tests/support/finch_fixture.sh");
    return QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/finch_fixture.sh");
}

// Undoes the script's quoting: 'a'\''b' is a'b.
QString unquote(QStringView text) {
    QString out;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('\\') && i + 1 < text.size())
            out += text[++i];
        else
            out += c;
    }
    return out;
}

QString busId(const QDBusConnection& bus) {
    const QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall(
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                     QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
                 QDBus::Block, CallTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toString() : QString();
}

QString readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

bool PurpleFixture::available(QString* whyNot) {
    // ngircd lives in /usr/sbin, which is not on an ordinary user's PATH.
    const QStringList extra{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")};
    for (const char* tool : {"bash", "finch", "ngircd", "tmux", "dbus-daemon", "gdbus", "setsid"}) {
        const QString name = QString::fromLatin1(tool);
        if (QStandardPaths::findExecutable(name).isEmpty() &&
            QStandardPaths::findExecutable(name, extra).isEmpty()) {
            if (whyNot)
                *whyNot =
                    name + QStringLiteral(" is not installed (the libpurple tests need finch, ngircd, tmux, "
                                          "dbus and libglib2.0-bin)");
            return false;
        }
    }
    if (!QFile::exists(scriptPath())) {
        if (whyNot)
            *whyNot = QStringLiteral("fixture script not found: ") + scriptPath();
        return false;
    }
    return true;
}

std::unique_ptr<PurpleFixture> PurpleFixture::start(QString* whyNot) {
    QString scratch;
    QString& why = whyNot ? *whyNot : scratch;
    if (!available(&why))
        return nullptr;

    std::unique_ptr<PurpleFixture> f(new PurpleFixture);
    f->script = scriptPath();
    QString exports;
    if (!f->runScript({QStringLiteral("start")}, &exports, &why, 90000))
        return nullptr;
    for (const QString& line : exports.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!line.startsWith(QLatin1String("export ")) || eq < 0)
            continue;
        const QString name = line.mid(7, eq - 7);
        const QString value = unquote(QStringView(line).mid(eq + 1));
        if (name == QLatin1String("DBUS_SESSION_BUS_ADDRESS"))
            f->address = value;
        else if (name == QLatin1String("PURPLE_FIXTURE_DIR"))
            f->directory = value;
        else if (name == QLatin1String("PURPLE_FIXTURE_ACCOUNT"))
            f->accountName = value;
        else if (name == QLatin1String("PURPLE_FIXTURE_BUDDY"))
            f->buddyName = value;
    }
    if (f->address.isEmpty() || f->directory.isEmpty() || f->accountName.isEmpty()) {
        why = QStringLiteral("fixture script printed no usable exports: ") + exports;
        return nullptr;
    }

    f->hadPreviousAddress = qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
    f->previousAddress = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", f->address.toLocal8Bit());

    static int serial = 0;
    f->connectionName = QStringLiteral("velmora-purple-fixture-%1").arg(++serial);
    const QDBusConnection own = QDBusConnection::connectToBus(f->address, f->connectionName);
    if (!own.isConnected()) {
        why = QStringLiteral("cannot connect to the fixture's bus: ") + own.lastError().message();
        return nullptr;
    }
    // The code under test talks through the process's session bus: it has to be ours.
    const QString expected = busId(own);
    if (expected.isEmpty() || busId(QDBusConnection::sessionBus()) != expected) {
        why = QStringLiteral("this process's session bus is not the fixture's: something used D-Bus before "
                             "PurpleFixture::start(), or a fixture was started before in this process "
                             "(QtDBus keeps its first session bus for good)");
        return nullptr;
    }
    return f;
}

PurpleFixture::~PurpleFixture() {
    if (!connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName);
    if (!directory.isEmpty()) {
        QString ignored;
        runScript({QStringLiteral("stop"), directory}, nullptr, &ignored, 30000);
    }
    if (!connectionName.isEmpty()) { // the variable was set
        if (hadPreviousAddress)
            qputenv("DBUS_SESSION_BUS_ADDRESS", previousAddress);
        else
            qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

bool PurpleFixture::runScript(const QStringList& args, QString* output, QString* whyNot, int timeoutMs) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // If this test dies without running its destructor, the fixture notices and stops itself.
    env.insert(QStringLiteral("PURPLE_FIXTURE_OWNER_PID"),
               QString::number(QCoreApplication::applicationPid()));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("bash"), QStringList{script} + args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        *whyNot = QStringLiteral("finch_fixture.sh %1 did not finish: %2")
                      .arg(args.join(QLatin1Char(' ')), QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAllStandardOutput());
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *whyNot = QStringLiteral("finch_fixture.sh %1 failed: %2")
                      .arg(args.join(QLatin1Char(' ')), QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    return true;
}

QDBusConnection PurpleFixture::bus() const {
    return QDBusConnection(connectionName);
}

QDBusMessage PurpleFixture::callMessage(const QString& method, const QVariantList& args) {
    QDBusMessage request = QDBusMessage::createMethodCall(Service, Path, Interface, method);
    request.setArguments(args);
    return bus().call(request, QDBus::Block, CallTimeoutMs);
}

QVariant PurpleFixture::call(const QString& method, const QVariantList& args, QString* error) {
    const QDBusMessage reply = callMessage(method, args);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        if (error)
            *error = reply.errorName() + QStringLiteral(": ") + reply.errorMessage();
        return {};
    }
    if (error)
        error->clear();
    const QVariant value = reply.arguments().value(0);
    if (value.userType() == qMetaTypeId<QDBusArgument>()) {
        const QDBusArgument array = value.value<QDBusArgument>();
        if (array.currentSignature() == QLatin1String("ai")) {
            QList<int> ids;
            array >> ids;
            return QVariant::fromValue(ids);
        }
    }
    return value;
}

int PurpleFixture::accountId() {
    const QList<int> ids = call(QStringLiteral("PurpleAccountsGetAllActive")).value<QList<int>>();
    return ids.isEmpty() ? 0 : ids.first();
}

bool PurpleFixture::isConnected() {
    const int account = accountId();
    return account != 0 && call(QStringLiteral("PurpleAccountIsConnected"), {account}).toInt() != 0;
}

bool PurpleFixture::waitForConnected(bool connected, int timeoutMs) {
    // qWait, not sleep: the code under test gets its bus signals meanwhile.
    const QDeadlineTimer deadline(timeoutMs);
    while (isConnected() != connected) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
    return true;
}

bool PurpleFixture::bringOnline(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    if (isConnected())
        return true;
    if (!waitForServerToDropNick(deadline))
        return false;
    QString error;
    const int status =
        call(QStringLiteral("PurpleSavedstatusNew"), {QString(), 2}, &error).toInt(); // AVAILABLE
    if (status == 0)
        return false;
    call(QStringLiteral("PurpleSavedstatusActivate"), {status}, &error);
    // An account that dropped while the saved status stayed available is not reconnected
    // by activating another available status; connecting one that is on its way is harmless.
    call(QStringLiteral("PurpleAccountConnect"), {accountId()});
    return error.isEmpty() && waitForConnected(true, int(deadline.remainingTime()));
}

bool PurpleFixture::goOffline(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    QString error;
    const int status =
        call(QStringLiteral("PurpleSavedstatusNew"), {QString(), 1}, &error).toInt(); // OFFLINE
    if (status == 0)
        return false;
    call(QStringLiteral("PurpleSavedstatusActivate"), {status}, &error);
    return error.isEmpty() && waitForConnected(false, int(deadline.remainingTime())) &&
           waitForServerToDropNick(deadline);
}

bool PurpleFixture::waitForServerToDropNick(QDeadlineTimer deadline) {
    // finch calls the account offline as soon as it has sent QUIT; ngircd lets go of the nick
    // a moment later. Signing in again before that collides with our own old session.
    const QString user = QStringLiteral("User \"%1!").arg(accountName.section(QLatin1Char('@'), 0, 0));
    for (;;) {
        int sessions = 0;
        for (const QString& line :
             readFile(directory + QStringLiteral("/ngircd.log")).split(QLatin1Char('\n'))) {
            if (!line.contains(user))
                continue;
            if (line.contains(QLatin1String("\" registered (")))
                ++sessions;
            else if (line.contains(QLatin1String("\" unregistered (")))
                --sessions;
        }
        if (sessions <= 0)
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(50);
    }
}

QStringList PurpleFixture::imConversationNames() {
    QStringList names;
    for (int conversation : call(QStringLiteral("PurpleGetIms")).value<QList<int>>())
        names << call(QStringLiteral("PurpleConversationGetName"), {conversation}).toString();
    return names;
}

void PurpleFixture::closeConversations() {
    for (int conversation : call(QStringLiteral("PurpleGetConversations")).value<QList<int>>())
        call(QStringLiteral("PurpleConversationDestroy"), {conversation});
}

bool PurpleFixture::stopClient() {
    QString why;
    return runScript({QStringLiteral("stop-client"), directory}, nullptr, &why, 30000);
}

bool PurpleFixture::startClient() {
    QString why;
    return runScript({QStringLiteral("start-client"), directory}, nullptr, &why, 30000);
}

bool PurpleFixture::freezeClient() {
    QString why;
    return runScript({QStringLiteral("freeze-client"), directory}, nullptr, &why, 30000);
}

bool PurpleFixture::thawClient() {
    QString why;
    return runScript({QStringLiteral("thaw-client"), directory}, nullptr, &why, 30000);
}

QString PurpleFixture::buddyLog() const {
    return readFile(directory + QStringLiteral("/buddy.log"));
}

QString PurpleFixture::finchLog() const {
    return readFile(directory + QStringLiteral("/finch.log"));
}
