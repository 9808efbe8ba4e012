// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

// Notifications through the desktop's notification service (org.freedesktop.Notifications on the
// session bus), asked without waiting for it.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    struct Action {
        QString key; // "default": the one a click on the notification itself takes
        QString label;
    };
    using Shown = std::function<void(bool shown)>;
    using Invoked = std::function<void(const QString& key)>;

    explicit DesktopNotifications(QObject* parent = nullptr);
    ~DesktopNotifications() override;

    // shown(false) when no service answers (none runs, no session bus, or it hangs): the caller
    // tells the user some other way. invoked() hears the action the user chose, if any.
    void notify(const QString& summary, const QString& body, const QList<Action>& actions, Shown shown,
                Invoked invoked);

private slots:
    void actionInvoked(uint id, const QString& key);
    void closed(uint id, uint reason);

private:
    QHash<uint, Invoked> m_open; // notifications on screen whose actions are listened for
};
