#include "watch/notifier.h"

#include "lookup/batchfindings.h"
#include "model/notificationtext.h"
#include "model/uilanguage.h"
#include "watch/orderwatcher.h"

#include <QFileInfo>
#include <QPointer>
#include <QTimer>

namespace {

// More held than this are counted, not listed: a notification is a glance, not a table.
constexpr int kListedHeld = 5;

} // namespace

Notifier::Notifier(QObject *parent) : QObject(parent)
{
    for (Channel &c : m_channels) {
        c.timer = new QTimer(this);
        c.timer->setSingleShot(true);
    }
    for (size_t i = 0; i < m_channels.size(); ++i)
        connect(m_channels[i].timer, &QTimer::timeout, this, [this, i] { flush(Kind(i)); });
}

Notifier::~Notifier() = default;

QString Notifier::title(Kind kind)
{
    switch (kind) {
    case Kind::FileChecked:
        return inUserLanguage(QStringLiteral("订单文件已检查"),
                              QStringLiteral("Order file checked"));
    case Kind::HighRisk:
        return inUserLanguage(QStringLiteral("高风险买家"), QStringLiteral("High-risk buyer"));
    case Kind::StaleRules:
        return inUserLanguage(QStringLiteral("页面规则可能已过期"),
                              QStringLiteral("The page rules may be out of date"));
    }
    return {};
}

QString Notifier::cut(const QString &text, int chars)
{
    return cutToGlance(text, chars);
}

QString Notifier::bodyMarkup(const QString &plain)
{
    return notificationMarkup(plain, kBodyChars);
}

void Notifier::notify(Kind kind, const QString &body)
{
    if (!m_enabled)
        return;
    Channel &c = m_channels[size_t(kind)];
    if (c.last.isValid() && c.last.elapsed() < m_intervalMs) {
        c.held.append(body);
        if (!c.timer->isActive())
            c.timer->start(int(m_intervalMs - c.last.elapsed()));
        return;
    }
    send(kind, body);
}

void Notifier::flush(Kind kind)
{
    Channel &c = m_channels[size_t(kind)];
    if (c.held.isEmpty() || !m_enabled) {
        c.held.clear();
        return;
    }
    QString body;
    if (c.held.size() == 1) {
        body = c.held.first();
    } else {
        body = inUserLanguage(QStringLiteral("又有 %1 条："), QStringLiteral("%1 more:"))
                   .arg(c.held.size());
        for (qsizetype i = 0; i < c.held.size() && i < kListedHeld; ++i)
            body += u'\n' + c.held.at(i);
        if (c.held.size() > kListedHeld)
            body += QStringLiteral("\n…");
    }
    c.held.clear();
    send(kind, body);
}

void Notifier::send(Kind kind, const QString &body)
{
    m_channels[size_t(kind)].last.start();
    const QString heading = title(kind);
    const QString bounded = cut(body, kBodyChars);
    if (m_deliver)
        m_deliver(heading, bounded);
    else
        sendToDesktop(heading, bounded);
}

QString highRiskNotice(const QString &buyerId, const QStringList &reasons)
{
    QStringList shortReasons;
    for (const QString &reason : reasons)
        shortReasons.append(Notifier::shortText(reason));
    return highRiskText(Notifier::shortName(buyerId), shortReasons);
}

void notifyFileChecked(Notifier *notifier, const CheckedFile &file)
{
    QStringList lines;
    for (qsizetype i = 0; i < file.highRisk.size() && i < kListedHeld; ++i)
        lines.append(highRiskNotice(file.highRisk.at(i).buyerId, file.highRisk.at(i).reasons));
    if (file.highRisk.size() > kListedHeld)
        lines.append(QStringLiteral("…"));
    lines.append(file.summary(Notifier::shortName(QFileInfo(file.exportPath).fileName())));
    if (!file.problem.isEmpty())
        lines.append(Notifier::shortText(file.problem));
    notifier->notify(file.highRisk.isEmpty() ? Notifier::Kind::FileChecked
                                             : Notifier::Kind::HighRisk,
                     lines.join(u'\n'));
}
