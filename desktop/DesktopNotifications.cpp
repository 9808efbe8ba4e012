// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/DesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
// A service that takes longer than this is none: the message goes elsewhere.
constexpr int CallTimeoutMs = 1500;
} // namespace

DesktopNotifications::DesktopNotifications(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    bus.connect(QString(), Path, Interface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(QString(), Path, Interface, QStringLiteral("NotificationClosed"), this, SLOT(closed(uint, uint)));
}

DesktopNotifications::~DesktopNotifications() = default;

void DesktopNotifications::notify(const QString& summary, const QString& body, const QList<Action>& actions,
                                  Shown shown, Invoked invoked) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return shown(false);
    QStringList pairs;
    for (const Action& a : actions)
        pairs << a.key << a.label;
    QDBusMessage request = QDBusMessage::createMethodCall(Service, Path, Interface, QStringLiteral("Notify"));
    // The body is markup to some services: an address is text.
    QString text = body.toHtmlEscaped();
    request << QStringLiteral("Velmora") << uint(0) << QStringLiteral("velmora") << summary << text << pairs
            << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("velmora")}} << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(request, CallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, shown = std::move(shown), invoked = std::move(invoked)] {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                if (reply.isError())
                    return shown(false);
                if (invoked)
                    m_open.insert(reply.value(), invoked);
                shown(true);
            });
}

void DesktopNotifications::actionInvoked(uint id, const QString& key) {
    // Some services close the notification after an action, some do not: it is taken once.
    if (const Invoked invoked = m_open.take(id))
        invoked(key);
}

void DesktopNotifications::closed(uint id, uint) {
    m_open.remove(id);
}
