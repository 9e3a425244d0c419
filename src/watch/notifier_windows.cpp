#include "watch/notifier.h"

// Windows has no notification service to call: the tray's message says it.
void Notifier::sendToDesktop(const QString &title, const QString &body)
{
    if (m_fallback)
        m_fallback(title, body);
}
