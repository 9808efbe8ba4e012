// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ShellHarness.h"

#include "contacts/ContactFile.h"
#include "contacts/ContactStore.h"
#include "shell/MainWindow.h"
#include "desktop/OpenLink.h"
#include "shell/Shutdown.h"

#include <QFile>
#include <QSettings>
#include <QTest>

ShellHarness::ShellHarness(bool withDataFolder)
{
    if (withDataFolder)
        QDir(dir.path()).mkpath(QStringLiteral("data"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path() + QStringLiteral("/config"));
    setContactFilePath(contactFile());
    resetContactStore();
    auto fake = std::make_unique<FakeMessenger>();
    messenger = fake.get();
    setProgramMessenger(std::move(fake));
    Shutdown::resetForTests();
    Shutdown::setHandler([this] {
        ++programEnds;
        dialogs.endEveryBox();
    });
    setLinkOpener([this](const QUrl& target) {
        openedLinks << target.toString();
        return true;
    });
}

ShellHarness::~ShellHarness()
{
    MainWindow::destroyInstance();
    setProgramMessenger(nullptr);
    Shutdown::setHandler({});
    Shutdown::resetForTests();
    setLinkOpener({});
    setContactFilePath(QString());
    resetContactStore();
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
