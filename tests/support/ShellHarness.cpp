// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ShellHarness.h"

#include "desktop/OpenLink.h"

#include <QFile>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTest>

ShellHarness::ShellHarness(bool withDataFolder)
    : dialogs([this] { return built && built->shutdown.ending(); }),
      desktop([this](const QUrl& target) {
          openedLinks << target.toString();
          return true;
      }),
      tray(QSystemTrayIcon::isSystemTrayAvailable()), fake(std::make_unique<FakeMessenger>())
{
    if (withDataFolder)
        QDir(dir.path()).mkpath(QStringLiteral("data"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path() + QStringLiteral("/config"));
    // A server named, where nothing listens: the sign-in does not ask for one.
    if (qEnvironmentVariableIsEmpty("VELMORA_DISPATCH_SERVER"))
        qputenv("VELMORA_DISPATCH_SERVER", "127.0.0.1:9");
    messenger = fake.get();
}

ShellHarness::~ShellHarness()
{
    built.reset();
    qunsetenv("VELMORA_DISPATCH_SERVER");
}

Program& ShellHarness::program()
{
    if (!built) {
        Platform p;
        p.desktop = desktop;
        p.contactFile.file = otherContactFile.isEmpty() ? contactFile() : otherContactFile;
        p.messenger = client ? std::move(client) : std::unique_ptr<Messenger>(std::move(fake));
        if (keyring)
            p.keyring = keyring();
        p.keyringWaitMs = keyringWaitMs;
        p.watchClock = watchClock;
        p.screenTwips = [this] { return screenTwips; };
        p.trayExists = [this] { return tray; };
        p.endProgram = [this] {
            ++programEnds;
            dialogs.endEveryBox();
        };
        built = std::make_unique<Program>(std::move(p));
    }
    return *built;
}

void ShellHarness::restart()
{
    built.reset();
    if (!fake) {
        fake = std::make_unique<FakeMessenger>();
        messenger = fake.get();
    }
}

void ShellHarness::writeContactFile(const QByteArray& bytes) const
{
    QFile f(contactFile());
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

QByteArray ShellHarness::contactFileBytes() const
{
    QFile f(contactFile());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void doubleClick(QWidget* widget, QPoint at)
{
    QTest::mousePress(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
    QTest::mousePress(widget, Qt::LeftButton, {}, at);
    QTest::mouseDClick(widget, Qt::LeftButton, {}, at);
    QTest::mouseRelease(widget, Qt::LeftButton, {}, at);
}
