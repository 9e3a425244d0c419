#include "files/batchjournal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "files/outputguard.h"
#include "files/safewrite.h"
#include "model/owneronly.h"
#include "model/uilanguage.h"

namespace {

const QString kFormat = QStringLiteral("brelvon-batch-journal 1");
constexpr qint64 kMaxJournalBytes = 256 * 1024 * 1024;

QList<std::pair<QString, QString BuyerCreditRecord::*>> recordFields()
{
    return {{QStringLiteral("buyerId"), &BuyerCreditRecord::buyerId},
            {QStringLiteral("nick"), &BuyerCreditRecord::nick},
            {QStringLiteral("regTime"), &BuyerCreditRecord::regTime},
            {QStringLiteral("address"), &BuyerCreditRecord::address},
            {QStringLiteral("verification"), &BuyerCreditRecord::verification},
            {QStringLiteral("goodRate"), &BuyerCreditRecord::goodRate},
            {QStringLiteral("goodCount"), &BuyerCreditRecord::goodCount},
            {QStringLiteral("neutralCount"), &BuyerCreditRecord::neutralCount},
            {QStringLiteral("badCount"), &BuyerCreditRecord::badCount},
            {QStringLiteral("neutralGiven"), &BuyerCreditRecord::neutralGiven},
            {QStringLiteral("badGiven"), &BuyerCreditRecord::badGiven},
            {QStringLiteral("creditUrl"), &BuyerCreditRecord::creditUrl}};
}

const LookupStatus kStatuses[] = {LookupStatus::Found,         LookupStatus::NotFound,
                                  LookupStatus::Blocked,       LookupStatus::NoConfiguration,
                                  LookupStatus::NotConfigured, LookupStatus::PagesFailed};

QJsonObject identityJson(const BatchInputIdentity &input)
{
    return {{QStringLiteral("path"), input.path},
            {QStringLiteral("size"), double(input.size)},
            {QStringLiteral("sha256"), QString::fromLatin1(input.sha256)},
            {QStringLiteral("ids"), input.idCount},
            {QStringLiteral("idsSha256"), QString::fromLatin1(input.idsSha256)}};
}

QByteArray rowLine(const JournalRow &row)
{
    QJsonObject record;
    for (const auto &[name, field] : recordFields())
        record.insert(name, row.result.record.*field);
    QJsonArray pages;
    for (const PageResult &p : row.result.pages)
        pages.append(QJsonObject{{QStringLiteral("page"), p.page},
                                 {QStringLiteral("outcome"), p.outcomeName()},
                                 {QStringLiteral("error"), p.error},
                                 {QStringLiteral("status"), p.status},
                                 {QStringLiteral("bytes"), double(p.bytes)},
                                 {QStringLiteral("ms"), double(p.elapsedMs)},
                                 {QStringLiteral("attempts"), p.attempts},
                                 {QStringLiteral("address"), p.address},
                                 {QStringLiteral("browser"), p.browser}});
    const QJsonObject o{{QStringLiteral("index"), row.index},
                        {QStringLiteral("id"), row.id},
                        {QStringLiteral("status"), lookupStatusName(row.status)},
                        {QStringLiteral("detail"), row.statusDetail},
                        {QStringLiteral("listed"), row.result.listed},
                        {QStringLiteral("reused"), row.reusedMinutes},
                        {QStringLiteral("record"), record},
                        {QStringLiteral("pages"), pages}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

bool rowFrom(const QJsonObject &o, JournalRow *row)
{
    bool statusKnown = false;
    const QString status = o.value(QLatin1String("status")).toString();
    for (LookupStatus s : kStatuses) {
        if (lookupStatusName(s) == status) {
            row->status = s;
            statusKnown = true;
        }
    }
    row->index = o.value(QLatin1String("index")).toInt(-1);
    if (!statusKnown || row->index < 0)
        return false;
    row->id = o.value(QLatin1String("id")).toString();
    row->statusDetail = o.value(QLatin1String("detail")).toString();
    row->reusedMinutes = o.value(QLatin1String("reused")).toInt(-1);
    row->result.listed = o.value(QLatin1String("listed")).toBool();
    const QJsonObject record = o.value(QLatin1String("record")).toObject();
    for (const auto &[name, field] : recordFields())
        row->result.record.*field = record.value(name).toString();
    for (const QJsonValue &v : o.value(QLatin1String("pages")).toArray()) {
        const QJsonObject p = v.toObject();
        PageResult page;
        page.page = p.value(QLatin1String("page")).toString();
        if (!pageOutcomeFromName(p.value(QLatin1String("outcome")).toString(), &page.outcome))
            return false;
        page.error = p.value(QLatin1String("error")).toString();
        page.status = p.value(QLatin1String("status")).toInt();
        page.bytes = qint64(p.value(QLatin1String("bytes")).toDouble());
        page.elapsedMs = qint64(p.value(QLatin1String("ms")).toDouble());
        page.attempts = p.value(QLatin1String("attempts")).toInt();
        page.address = p.value(QLatin1String("address")).toString();
        page.browser = p.value(QLatin1String("browser")).toBool();
        row->result.pages.append(page);
    }
    return true;
}

} // namespace

bool BatchInputIdentity::of(const QString &path, const QStringList &ids,
                            BatchInputIdentity *identity, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error =
            inUserLanguage(QStringLiteral("无法读取 %1：%2"), QStringLiteral("cannot read %1: %2"))
                .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    identity->path = QFileInfo(path).absoluteFilePath();
    identity->size = file.size();
    identity->sha256 = hash.result().toHex();
    QCryptographicHash idsHash(QCryptographicHash::Sha256);
    for (const QString &id : ids)
        idsHash.addData((id + u'\n').toUtf8());
    identity->idCount = int(ids.size());
    identity->idsSha256 = idsHash.result().toHex();
    return true;
}

bool BatchInputIdentity::operator==(const BatchInputIdentity &other) const
{
    return path == other.path && size == other.size && sha256 == other.sha256 &&
           idCount == other.idCount && idsSha256 == other.idsSha256;
}

QString BatchJournal::pathFor(const QString &output)
{
    return QFileInfo(output).absoluteFilePath() + QLatin1String(".journal");
}

bool BatchJournal::create(const QString &path, const BatchInputIdentity &input,
                          const QString &options, QString *error)
{
    m_path = path;
    m_input = input;
    m_options = options;
    m_rows.clear();
    m_file.close();
    m_file.setFileName(path);
    // The journal holds what was found about the buyers: made owner-only like the seller's
    // database, and checked like every file written for the user (no device, pipe or folder).
    OutputTarget target;
    QString reason;
    if (!createOwnerOnlyFile(path, &reason) || !resolveOutput(path, {}, &target, &reason)) {
        *error = inUserLanguage(QStringLiteral("无法写入批量查询记录 %1：%2"),
                                QStringLiteral("cannot write the batch journal %1: %2"))
                     .arg(QDir::toNativeSeparators(path), reason);
        return false;
    }
    const QJsonObject head{{QStringLiteral("format"), kFormat},
                           {QStringLiteral("input"), identityJson(input)},
                           {QStringLiteral("options"), options}};
    const QByteArray line = QJsonDocument(head).toJson(QJsonDocument::Compact) + '\n';
    reason.clear();
    if (!openOwnFile(path, OwnFileMode::Replace, &m_file, &reason) ||
        m_file.write(line) != line.size() || !m_file.flush()) {
        *error = inUserLanguage(QStringLiteral("无法写入批量查询记录 %1：%2"),
                                QStringLiteral("cannot write the batch journal %1: %2"))
                     .arg(QDir::toNativeSeparators(path),
                          reason.isEmpty() ? m_file.errorString() : reason);
        m_file.close();
        return false;
    }
    return true;
}

bool BatchJournal::open(const QString &path, QString *error)
{
    m_path = path;
    m_rows.clear();
    m_file.close();
    m_file.setFileName(path);
    const auto fail = [&](const QString &why) {
        *error = inUserLanguage(QStringLiteral("批量查询记录 %1 无法使用：%2"),
                                QStringLiteral("the batch journal %1 cannot be used: %2"))
                     .arg(QDir::toNativeSeparators(path), why);
        m_file.close();
        return false;
    };
    QString reason;
    if (!openOwnFile(path, OwnFileMode::Append, &m_file, &reason))
        return fail(reason);
    if (m_file.size() > kMaxJournalBytes)
        return fail(inUserLanguage(QStringLiteral("文件过大"), QStringLiteral("too large")));
    m_file.seek(0);
    const QList<QByteArray> lines = m_file.read(kMaxJournalBytes).split('\n');
    const QJsonObject head = QJsonDocument::fromJson(lines.value(0)).object();
    if (head.value(QLatin1String("format")).toString() != kFormat)
        return fail(inUserLanguage(QStringLiteral("不是批量查询记录"),
                                   QStringLiteral("not a batch journal")));
    const QJsonObject input = head.value(QLatin1String("input")).toObject();
    m_input.path = input.value(QLatin1String("path")).toString();
    m_input.size = qint64(input.value(QLatin1String("size")).toDouble());
    m_input.sha256 = input.value(QLatin1String("sha256")).toString().toLatin1();
    m_input.idCount = input.value(QLatin1String("ids")).toInt();
    m_input.idsSha256 = input.value(QLatin1String("idsSha256")).toString().toLatin1();
    m_options = head.value(QLatin1String("options")).toString();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        JournalRow row;
        QJsonParseError parsed;
        const QJsonDocument doc = QJsonDocument::fromJson(lines.at(i), &parsed);
        // A torn line (the program was killed while writing it) is no row; the buyer is looked
        // up again.
        if (parsed.error != QJsonParseError::NoError || !rowFrom(doc.object(), &row) ||
            row.index >= m_input.idCount)
            continue;
        m_rows.insert(row.index, row);
    }
    // A torn last line gets its line break, so the next row starts on a line of its own.
    if (!lines.isEmpty() && !lines.constLast().isEmpty())
        m_file.write("\n");
    return true;
}

bool BatchJournal::append(const JournalRow &row)
{
    const QByteArray line = rowLine(row);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rows.insert(row.index, row);
    if (m_file.isOpen() && m_file.write(line) == line.size() && m_file.flush())
        return true;
    if (m_problem.isEmpty())
        m_problem = inUserLanguage(QStringLiteral("无法写入批量查询记录 %1：%2"),
                                   QStringLiteral("cannot write the batch journal %1: %2"))
                        .arg(m_path, m_file.errorString());
    return false;
}

QString BatchJournal::problem() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_problem;
}

bool BatchJournal::remove()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_file.close();
    return QFile::remove(m_path) || !QFile::exists(m_path);
}
