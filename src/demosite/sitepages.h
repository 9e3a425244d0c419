#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// One answer of the site: status, content type and the body bytes as sent (GBK pages).
struct SiteResponse
{
    int status = 200;
    QByteArray contentType;
    QByteArray body;
};

// The pages of our web site and the demo marketplace, built from the data bundled into the
// program (data/site). Every text that names the site gets hostPort in place of "{SITE}".
// Answers are a pure function of the request, so the pages are tested without a socket.
class SitePages
{
public:
    // versionText, when not empty, replaces the version text of the start-up list, so the
    // update notice can be shown against the demo site.
    explicit SitePages(const QString &hostPort, const QString &versionText = QString());

    // target: the request target as it arrived ("/path?query", percent-encoded as sent).
    // userAgent: the request's User-Agent header, or empty.
    SiteResponse answer(const QByteArray &target, const QByteArray &userAgent) const;

    // Whether the request is for a page of the demo marketplace (search, rate, ratings given,
    // name cards, personal page) rather than of our web site.
    static bool isMarketplaceRequest(const QByteArray &target);
    // The marketplace's login page with its slider check, sent instead of a page it will not
    // show without a login.
    SiteResponse blockedPage() const;

    // A demo member as the marketplace knows it.
    struct Member
    {
        QString id;
        QString num;  // numeric user id: personal page and ratings-given lists
        QString xyid; // rate page id: /rate/user-rate-<xyid>.htm
        bool decoy = false;
        bool listed = true;
        bool browserOnly = false;
        bool popupRate = true;
        QString layout; // "A" or "B"
        QString auth;   // "alipay", "phone" or "none"
        QString nick, regDate, from, areaCode, signature;
        int good = 0, neutral = 0, bad = 0;
        // date, seller, item id, item, price, comment
        QList<QStringList> givenNeutral, givenBad;
    };
    const QList<Member> &members() const { return m_members; }

    // Search text as the search page's "nick" value carries it: GBK %XX escapes, "+" for a space.
    static QString decodeSearchValue(const QByteArray &raw);
    // A trade-card "uid" value: %XX escapes of UTF-8 (what an HTTP client makes of a raw id),
    // or of GBK when the bytes are not UTF-8.
    static QString decodeTradeCardValue(const QByteArray &raw);

private:
    SiteResponse searchPage(const QByteArray &query) const;
    SiteResponse ratePage(const QString &xyid, const QByteArray &userAgent) const;
    SiteResponse givenPage(const QByteArray &query) const;
    SiteResponse nameCardPage(const QByteArray &query, bool popup) const;
    SiteResponse homePage(const QByteArray &query) const;
    SiteResponse notFound() const;
    SiteResponse htmlPage(const QString &text, int status = 200) const;
    QString tmpl(const QString &name) const;
    const Member *memberById(const QString &id) const;
    const Member *memberByNum(const QString &num) const;
    const Member *memberByXyid(const QString &xyid) const;

    QString m_hostPort;
    QHash<QString, QByteArray> m_files;  // served paths (without the leading "/") -> bytes
    QHash<QString, QString> m_templates; // market/*.htm -> text with the site filled in
    QList<Member> m_members;
};
