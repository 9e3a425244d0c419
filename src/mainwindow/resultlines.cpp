#include "mainwindow/resultlines.h"

#include "mainwindow/clicklabel.h"
#include "mainwindow/mainwindowlayout.h"
#include "mainwindow/riskverdictview.h"
#include "model/buyercreditrecord.h"
#include "web/texthelpers.h"

#include <QFontMetrics>
#include <QLineEdit>

ResultLines::ResultLines(const MainWindowLayout &layout)
    : m_idLine(layout.idLine), m_ratingsLine(layout.ratingsLine), m_profileLine(layout.profileLine),
      m_givenLine(layout.givenLine), m_creditLink(layout.creditLink),
      m_noticeLine(layout.noticeLine), m_statusLine(layout.statusLine),
      m_creditAddress(layout.creditAddress), m_verdict(layout.verdict)
{
}

void ResultLines::show(const QString &buyerId, const BuyerCreditRecord &r)
{
    const auto t = [](const QString &value) { return trimSpaces(value); };
    // A number the pages did not give reads "—", not as a gap between two commas.
    const auto n = [](const QString &value) {
        const QString v = trimSpaces(value);
        return v.isEmpty() ? QStringLiteral("—") : v;
    };
    m_idLine->setText(QStringLiteral("买家:[") + buyerId + QStringLiteral("]认证信息：") +
                      r.verification);
    m_ratingsLine->setText(QStringLiteral("好评率") + n(r.goodRate) + QStringLiteral("，好评") +
                           n(r.goodCount) + QStringLiteral("，中评") + n(r.neutralCount) +
                           QStringLiteral("，差评") + n(r.badCount));
    m_givenLine->setText(QStringLiteral("给他人的评价：中评") + n(r.neutralGiven) +
                         QStringLiteral("，差评") + n(r.badGiven));
    m_profileLine->setText(QStringLiteral("注册时间：") + t(r.regTime) +
                           QStringLiteral("，姓名(昵称)：") + t(r.nick) +
                           QStringLiteral("，地址：") + t(r.address));
    // A long line is cut off at the label's edge; its tip shows it whole.
    for (ClickLabel *l : {m_idLine, m_ratingsLine, m_givenLine, m_profileLine}) {
        l->setToolTip(l->text());
        l->show();
    }
    m_creditLink->show();
    m_creditAddress->setText(r.creditUrl);
    m_statusLine->hide();
}

void ResultLines::showVerdict(const BuyerAssessment &assessment, const PageResults &pages)
{
    m_verdict->setAssessment(assessment, pages);
    m_verdict->show();
}

void ResultLines::hide()
{
    for (ClickLabel *l :
         {m_ratingsLine, m_givenLine, m_creditLink, m_idLine, m_profileLine, m_statusLine})
        l->hide();
    m_verdict->hide();
}

void ResultLines::showStatus(const QString &text, StatusKind kind)
{
    const char *style = "color: #303030;";
    switch (kind) {
    case StatusKind::Plain:
        break;
    case StatusKind::Failure:
        style = "color: #B03000;";
        break;
    case StatusKind::Link:
        style = "color: #0000FF; text-decoration: underline;";
        break;
    case StatusKind::Busy:
        style = "color: #505A70;";
        break;
    }
    m_statusLine->setStyleSheet(QLatin1String(style));
    m_statusLine->setCursor(kind == StatusKind::Link ? Qt::PointingHandCursor : Qt::ArrowCursor);
    m_statusLine->setProperty("statusKind", int(kind));
    m_statusLine->setText(text);
    m_statusLine->setToolTip(kind == StatusKind::Busy ? QString() : text);
    m_statusLine->show();
}

void ResultLines::hideStatus()
{
    m_statusLine->hide();
}

QString ResultLines::statusText() const
{
    return m_statusLine->isVisible() ? m_statusLine->text() : QString();
}

void ResultLines::beginBatch()
{
    m_ratingsLine->hide();
    m_givenLine->hide();
    m_noticeLine->show();
}

QString ResultLines::fitProgress(const QString &text, const QFontMetrics &metrics, int width)
{
    if (metrics.horizontalAdvance(text) <= width)
        return text;
    const qsizetype comma = text.lastIndexOf(QChar(0xFF0C)); // "，"
    if (comma <= 0)
        return metrics.elidedText(text, Qt::ElideRight, width);
    const QString tail = text.mid(comma);
    const int room = width - metrics.horizontalAdvance(tail);
    if (room < metrics.horizontalAdvance(QStringLiteral("共…")))
        return metrics.elidedText(text, Qt::ElideLeft, width);
    return metrics.elidedText(text.left(comma), Qt::ElideRight, room) + tail;
}

void ResultLines::refitProgress()
{
    if (m_progress.isEmpty())
        return;
    // A little slack: the label's margins and a pixel rounded at scale 2.
    const QString shown =
        fitProgress(m_progress, m_noticeLine->fontMetrics(), m_noticeLine->width() - 4);
    m_noticeLine->setText(shown);
    m_noticeLine->setToolTip(shown == m_progress ? QString() : m_progress);
}

void ResultLines::showProgress(const QString &text, bool paintNow)
{
    m_progress = text;
    m_noticeLine->setText(text);
    refitProgress();
    m_noticeLine->show();
    if (paintNow)
        m_noticeLine->repaint();
}

void ResultLines::hideProgress()
{
    m_progress.clear();
    m_noticeLine->setToolTip(QString());
    m_noticeLine->hide();
}

QString ResultLines::creditAddress() const
{
    return m_creditAddress->text();
}
