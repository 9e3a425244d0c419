#include "watch/notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QVariantMap>

void Notifier::sendToDesktop(const QString &title, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (m_fallback)
            m_fallback(title, body);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("brelvon"));
    // Servers that render body markup would otherwise take a sender's <a>, <img> or & as theirs.
    call << QStringLiteral("Brelvon") << 0u << QStringLiteral("brelvon") << title
         << bodyMarkup(body) << QStringList() << hints << -1;
    // No service, or one that refuses: the fallback says it instead.
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, title, body] {
        if (watcher->isError() && m_fallback)
            m_fallback(title, body);
        watcher->deleteLater();
    });
}
