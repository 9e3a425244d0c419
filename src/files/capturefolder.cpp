#include "files/capturefolder.h"

#include "files/inputfile.h"
#include "files/safewrite.h"
#include "model/uilanguage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QString kFormat = QStringLiteral("brelvon-capture 1");
constexpr qint64 kMaxIndexBytes = 4 * 1024 * 1024;
constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;

bool outcomeByName(const QString &name, PageOutcome *outcome)
{
    return pageOutcomeFromName(name, outcome);
}

// The record's fields under their own names, in their order.
QList<std::pair<QString, QString *>> recordFields(BuyerCreditRecord &r)
{
    return {{QStringLiteral("buyerId"), &r.buyerId},
            {QStringLiteral("nick"), &r.nick},
            {QStringLiteral("regTime"), &r.regTime},
            {QStringLiteral("address"), &r.address},
            {QStringLiteral("verification"), &r.verification},
            {QStringLiteral("goodRate"), &r.goodRate},
            {QStringLiteral("goodCount"), &r.goodCount},
            {QStringLiteral("neutralCount"), &r.neutralCount},
            {QStringLiteral("badCount"), &r.badCount},
            {QStringLiteral("neutralGiven"), &r.neutralGiven},
            {QStringLiteral("badGiven"), &r.badGiven},
            {QStringLiteral("creditUrl"), &r.creditUrl}};
}

// A file of the folder itself: no path, no hidden file, nothing a name could escape with.
QString damaged(const QString &path, qint64 bytes, qint64 expected)
{
    return inUserLanguage(
               QStringLiteral("%1 有 %2 字节，capture.json 记的是 %3：文件已损坏或被改过"),
               QStringLiteral(
                   "%1 holds %2 bytes, capture.json says %3: the file is damaged or was edited"))
        .arg(path, QString::number(bytes), QString::number(expected));
}

bool isPlainFileName(const QString &name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,99}$"));
    return plain.match(name).hasMatch();
}

class IndexReader
{
public:
    explicit IndexReader(QString *error) : m_error(error) {}

    bool text(const QJsonObject &o, const QString &key, QString *value, const QString &where)
    {
        const QJsonValue v = o.value(key);
        if (!v.isString())
            return fail(where, key, inUserLanguage(QStringLiteral("文本"), QStringLiteral("text")));
        *value = v.toString();
        return true;
    }
    bool number(const QJsonObject &o, const QString &key, qint64 *value, const QString &where)
    {
        const QJsonValue v = o.value(key);
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d < 0 || d > 9e15 || d != double(qint64(d)))
            return fail(where, key,
                        inUserLanguage(QStringLiteral("不小于 0 的整数"),
                                       QStringLiteral("a whole number from 0")));
        *value = qint64(d);
        return true;
    }
    bool fileName(const QJsonObject &o, const QString &key, QString *value, const QString &where,
                  bool mayBeEmpty)
    {
        if (!text(o, key, value, where))
            return false;
        if ((mayBeEmpty && value->isEmpty()) || isPlainFileName(*value))
            return true;
        return fail(where, key,
                    inUserLanguage(QStringLiteral("抓取文件夹中的文件名"),
                                   QStringLiteral("the name of a file in the capture folder")));
    }
    bool fail(const QString &where, const QString &key, const QString &what)
    {
        *m_error = inUserLanguage(QStringLiteral("%1%2 须是%3"), QStringLiteral("%1%2 must be %3"))
                       .arg(where, key, what);
        return false;
    }

private:
    QString *m_error;
};

} // namespace

const CapturedPage *Capture::page(const QString &name, bool browser) const
{
    for (const CapturedPage &p : pages) {
        if (p.result.page == name && p.result.browser == browser)
            return &p;
    }
    return nullptr;
}

QByteArray captureIndexJson(const Capture &capture)
{
    QJsonObject index;
    index.insert(QStringLiteral("format"), kFormat);
    index.insert(QStringLiteral("buyerId"), capture.buyerId);
    index.insert(QStringLiteral("time"), capture.time.toUTC().toString(Qt::ISODate));
    index.insert(QStringLiteral("program"), capture.program);
    index.insert(QStringLiteral("lookup"), capture.lookup);
    QJsonObject record;
    BuyerCreditRecord r = capture.record;
    for (const auto &[name, value] : recordFields(r))
        record.insert(name, *value);
    index.insert(QStringLiteral("record"), record);
    index.insert(QStringLiteral("configuration"), capture.configurationFile);
    index.insert(QStringLiteral("areaTable"), capture.areaTableFile);
    QJsonArray pages;
    for (const CapturedPage &p : capture.pages) {
        QJsonObject page;
        page.insert(QStringLiteral("page"), p.result.page);
        page.insert(QStringLiteral("address"), p.result.address);
        page.insert(QStringLiteral("status"), p.result.status);
        page.insert(QStringLiteral("outcome"), p.result.outcomeName());
        page.insert(QStringLiteral("error"), p.result.error);
        page.insert(QStringLiteral("bytes"), p.result.bytes);
        page.insert(QStringLiteral("ms"), p.result.elapsedMs);
        page.insert(QStringLiteral("browser"), p.result.browser);
        page.insert(QStringLiteral("file"), p.file);
        pages.append(page);
    }
    index.insert(QStringLiteral("pages"), pages);
    return QJsonDocument(index).toJson(QJsonDocument::Indented);
}

bool readCaptureIndex(const QByteArray &json, Capture *capture, QString *error)
{
    if (json.size() > kMaxIndexBytes) {
        *error = inUserLanguage(QStringLiteral("capture.json 大于 4 MiB"),
                                QStringLiteral("capture.json is larger than 4 MiB"));
        return false;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError
                     ? inUserLanguage(QStringLiteral("capture.json 不是 JSON（第 %2 字节处：%1）"),
                                      QStringLiteral("capture.json is not JSON (%1 at byte %2)"))
                           .arg(parseError.errorString())
                           .arg(parseError.offset)
                     : inUserLanguage(QStringLiteral("capture.json 不是 JSON 对象"),
                                      QStringLiteral("capture.json is not a JSON object"));
        return false;
    }
    const QJsonObject index = document.object();
    if (index.value(QStringLiteral("format")).toString() != kFormat) {
        *error = inUserLanguage(
                     QStringLiteral("capture.json 不是抓取索引（format 不是“%1”）"),
                     QStringLiteral("capture.json is not a capture index (format is not \"%1\")"))
                     .arg(kFormat);
        return false;
    }
    IndexReader read(error);
    Capture c;
    const QString top =
        inUserLanguage(QStringLiteral("capture.json："), QStringLiteral("capture.json: "));
    QString time;
    if (!read.text(index, QStringLiteral("buyerId"), &c.buyerId, top) ||
        !read.text(index, QStringLiteral("time"), &time, top) ||
        !read.text(index, QStringLiteral("program"), &c.program, top) ||
        !read.text(index, QStringLiteral("lookup"), &c.lookup, top) ||
        !read.fileName(index, QStringLiteral("configuration"), &c.configurationFile, top, true) ||
        !read.fileName(index, QStringLiteral("areaTable"), &c.areaTableFile, top, true))
        return false;
    c.time = QDateTime::fromString(time, Qt::ISODate);
    const QJsonValue record = index.value(QStringLiteral("record"));
    if (!record.isObject())
        return read.fail(top, QStringLiteral("record"),
                         inUserLanguage(QStringLiteral("对象"), QStringLiteral("an object")));
    const QString inRecord = top + QStringLiteral("record.");
    for (const auto &[name, value] : recordFields(c.record)) {
        if (!read.text(record.toObject(), name, value, inRecord))
            return false;
    }
    const QJsonValue pages = index.value(QStringLiteral("pages"));
    if (!pages.isArray())
        return read.fail(top, QStringLiteral("pages"),
                         inUserLanguage(QStringLiteral("数组"), QStringLiteral("an array")));
    const QJsonArray list = pages.toArray();
    if (list.size() > kMaxCapturePages)
        return read.fail(
            top, QStringLiteral("pages"),
            inUserLanguage(QStringLiteral("至多 %1 个页面（一次查询不会读更多）"),
                           QStringLiteral("at most %1 pages (one lookup reads no more)"))
                .arg(kMaxCapturePages));
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString where = inUserLanguage(QStringLiteral("capture.json：第 %1 个页面："),
                                             QStringLiteral("capture.json: page %1: "))
                                  .arg(i + 1);
        if (!list.at(i).isObject())
            return read.fail(where,
                             inUserLanguage(QStringLiteral("这一项"), QStringLiteral("the entry")),
                             inUserLanguage(QStringLiteral("对象"), QStringLiteral("an object")));
        const QJsonObject o = list.at(i).toObject();
        CapturedPage p;
        qint64 status = 0;
        QString outcome;
        if (!read.text(o, QStringLiteral("page"), &p.result.page, where) ||
            !read.text(o, QStringLiteral("address"), &p.result.address, where) ||
            !read.number(o, QStringLiteral("status"), &status, where) ||
            !read.text(o, QStringLiteral("outcome"), &outcome, where) ||
            !read.text(o, QStringLiteral("error"), &p.result.error, where) ||
            !read.number(o, QStringLiteral("bytes"), &p.result.bytes, where) ||
            !read.number(o, QStringLiteral("ms"), &p.result.elapsedMs, where) ||
            !read.fileName(o, QStringLiteral("file"), &p.file, where, true))
            return false;
        if (status > 999)
            return read.fail(
                where, QStringLiteral("status"),
                inUserLanguage(QStringLiteral("HTTP 状态码"), QStringLiteral("an HTTP status")));
        p.result.status = int(status);
        if (!outcomeByName(outcome, &p.result.outcome))
            return read.fail(
                where, QStringLiteral("outcome"),
                inUserLanguage(QStringLiteral("页面结果（ok、empty、timeout …）"),
                               QStringLiteral("a page outcome (ok, empty, timeout …)")));
        if (!o.value(QStringLiteral("browser")).isBool())
            return read.fail(
                where, QStringLiteral("browser"),
                inUserLanguage(QStringLiteral(" true 或 false"), QStringLiteral("true or false")));
        p.result.browser = o.value(QStringLiteral("browser")).toBool();
        if (p.result.bytes > kMaxFileBytes)
            return read.fail(
                where, QStringLiteral("bytes"),
                inUserLanguage(QStringLiteral("不大于 16 MiB"), QStringLiteral("at most 16 MiB")));
        c.pages.append(std::move(p));
    }
    *capture = std::move(c);
    return true;
}

bool writeCaptureFolder(const QString &folder, const Capture &capture,
                        const QHash<QString, QByteArray> &files, QString *error)
{
    const QDir dir(folder);
    if (QFileInfo::exists(dir.filePath(kCaptureIndexName))) {
        *error = inUserLanguage(QStringLiteral("%1 中已有抓取内容"),
                                QStringLiteral("%1 already holds a capture"))
                     .arg(folder);
        return false;
    }
    if (QFileInfo(folder).exists() && !QFileInfo(folder).isDir()) {
        *error =
            inUserLanguage(QStringLiteral("%1 不是文件夹"), QStringLiteral("%1 is not a folder"))
                .arg(folder);
        return false;
    }
    if (!QDir().mkpath(folder)) {
        *error = inUserLanguage(QStringLiteral("无法创建文件夹 %1"),
                                QStringLiteral("cannot make the folder %1"))
                     .arg(folder);
        return false;
    }
    QStringList names = files.keys();
    names.sort();
    QList<std::pair<QString, QByteArray>> ordered;
    for (const QString &name : names)
        ordered.append({name, files.value(name)});
    // The index last: a folder with an index is whole. Every file is made new, never through a
    // link another program put at its name.
    ordered.append({kCaptureIndexName, captureIndexJson(capture)});
    return writeNewFilesIn(folder, ordered, error);
}

bool readCaptureFile(const InputFolder &folder, const QString &file, qint64 expectedBytes,
                     QByteArray *bytes, QString *error)
{
    const QString path = QDir(folder.path()).filePath(file);
    QFile f;
    QString reason;
    bool isLink = false;
    // A capture holds its own files: a link could lead a shared capture to any file of the
    // reader's (and show it as a page). Opened without following one, and checked as opened.
    if (!isPlainFileName(file) || !folder.openFile(file, &f, &reason, &isLink)) {
        *error = isLink
                     ? inUserLanguage(QStringLiteral("%1 是符号链接：抓取文件夹只含它自己的文件"),
                                      QStringLiteral("%1 is a symbolic link: a capture holds "
                                                     "its own files"))
                           .arg(path)
                     : inUserLanguage(QStringLiteral("无法读取 %1：%2"),
                                      QStringLiteral("cannot read %1: %2"))
                           .arg(path, reason);
        return false;
    }
    if (f.size() > kMaxFileBytes) {
        *error = inUserLanguage(QStringLiteral("%1 大于 16 MiB"),
                                QStringLiteral("%1 is larger than 16 MiB"))
                     .arg(path);
        return false;
    }
    if (expectedBytes >= 0 && f.size() != expectedBytes) {
        *error = damaged(path, f.size(), expectedBytes);
        return false;
    }
    *bytes = f.read(kMaxFileBytes + 1);
    if (expectedBytes >= 0 && bytes->size() != expectedBytes) {
        *error = damaged(path, bytes->size(), expectedBytes);
        bytes->clear();
        return false;
    }
    return true;
}

bool readCaptureFolder(const QString &folder, InputFolder *opened, Capture *capture, QString *error)
{
    QString reason;
    if (!opened->open(folder, &reason)) {
        *error =
            inUserLanguage(QStringLiteral("%1 不是文件夹"), QStringLiteral("%1 is not a folder"))
                .arg(folder);
        return false;
    }
    const QFileInfo index(QDir(folder).filePath(kCaptureIndexName));
    if (!index.exists() && !index.isSymLink()) {
        *error = inUserLanguage(QStringLiteral("%1 中没有 capture.json：不是抓取文件夹"),
                                QStringLiteral("no capture.json in %1: not a capture folder"))
                     .arg(folder);
        return false;
    }
    QByteArray json;
    if (!readCaptureFile(*opened, kCaptureIndexName, -1, &json, error))
        return false;
    if (!readCaptureIndex(json, capture, error)) {
        *error = QDir::cleanPath(folder) + u'/' + *error;
        return false;
    }
    return true;
}
