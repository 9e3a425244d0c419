#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

class QTimer;

// Desktop notifications, at most one a minute per kind: what comes within the minute after one
// is held and said together when the minute is over. They go to the desktop's notification
// service (org.freedesktop.Notifications on the session bus); where there is none, to the
// fallback (the tray's message), else nowhere. Bodies are plain text, at most kBodyChars long.
class Notifier : public QObject
{
    Q_OBJECT
public:
    enum class Kind { FileChecked, HighRisk, StaleRules };
    Q_ENUM(Kind)
    using Deliver = std::function<void(const QString &title, const QString &body)>;

    explicit Notifier(QObject *parent = nullptr);
    ~Notifier() override;

    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    // Where a notification goes when the desktop has no notification service.
    void setFallback(Deliver fallback) { m_fallback = std::move(fallback); }
    // Instead of the notification service (tests, a front end of its own).
    void setDelivery(Deliver deliver) { m_deliver = std::move(deliver); }
    // The least time between two notifications of a kind (a minute).
    void setInterval(int ms) { m_intervalMs = ms; }

    void notify(Kind kind, const QString &body);

    // The title a kind's notification has: "订单文件已检查", "高风险买家", "页面规则可能已过期".
    static QString title(Kind kind);

    // Outside texts in a body are cut to a glance: ids and file names to kNameChars characters,
    // reasons and messages to kTextChars, each ending in "…" when cut; a whole body to
    // kBodyChars.
    static constexpr int kNameChars = 64;
    static constexpr int kTextChars = 200;
    static constexpr int kBodyChars = 1000;
    static QString shortName(const QString &name) { return cut(name, kNameChars); }
    static QString shortText(const QString &text) { return cut(text, kTextChars); }
    static QString cut(const QString &text, int chars);
    // A plain body as the notification service's markup takes it: bounded, control characters
    // other than line feeds dropped, & < > " ' as entities, so no sender's text becomes a link,
    // a picture or formatting.
    static QString bodyMarkup(const QString &plain);

private:
    struct Channel
    {
        QElapsedTimer last; // invalid: none sent yet
        QStringList held;
        QTimer *timer = nullptr;
    };
    void send(Kind kind, const QString &body);
    void flush(Kind kind);
    void sendToDesktop(const QString &title, const QString &body);

    bool m_enabled = true;
    int m_intervalMs = 60000;
    Deliver m_deliver;
    Deliver m_fallback;
    std::array<Channel, 3> m_channels;
};
