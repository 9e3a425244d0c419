#include "storage/sellerdatabase.h"

#include "model/ordernumber.h"
#include "model/owneronly.h"
#include "model/uilanguage.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <iterator>
#include <mutex>
#include <thread>

namespace {

// SQLite's primary result codes, as Qt SQL reports them in nativeErrorCode().
enum SqliteCode {
    SqliteBusy = 5,
    SqliteLocked = 6,
    SqliteReadOnly = 8,
    SqliteCorrupt = 11,
    SqliteFull = 13,
    SqliteCantOpen = 14,
    SqliteNotADatabase = 26,
};

// The layout, step by step: step i brings a file of version i to version i + 1. A file is
// migrated on open, in one transaction, so an interrupted upgrade leaves the old layout intact.
const char *const kStepTo1[] = {
    "CREATE TABLE lookups ("
    " id INTEGER PRIMARY KEY,"
    " looked_up_at INTEGER NOT NULL," // milliseconds since 1970-01-01 UTC
    " buyer_id TEXT NOT NULL,"
    " nick TEXT NOT NULL DEFAULT '', reg_time TEXT NOT NULL DEFAULT '',"
    " address TEXT NOT NULL DEFAULT '', verification TEXT NOT NULL DEFAULT '',"
    " good_rate TEXT NOT NULL DEFAULT '', good_count TEXT NOT NULL DEFAULT '',"
    " neutral_count TEXT NOT NULL DEFAULT '', bad_count TEXT NOT NULL DEFAULT '',"
    " neutral_given TEXT NOT NULL DEFAULT '', bad_given TEXT NOT NULL DEFAULT '',"
    " credit_url TEXT NOT NULL DEFAULT '')",
    "CREATE INDEX lookups_by_buyer ON lookups (buyer_id, looked_up_at)",
};
const char *const kStepTo2[] = {
    // Apart from the lookups, so that a search through them reads only their fields.
    "CREATE TABLE lookup_pages (lookup_id INTEGER PRIMARY KEY, pages TEXT NOT NULL)",
    "CREATE INDEX lookups_by_time ON lookups (looked_up_at)",
    "CREATE TABLE notes ("
    " buyer_id TEXT PRIMARY KEY NOT NULL,"
    " note TEXT NOT NULL DEFAULT '',"
    " listed TEXT NOT NULL DEFAULT '' CHECK (listed IN ('', 'blacklist', 'trusted')),"
    " reason TEXT NOT NULL DEFAULT '',"
    " listed_on TEXT NOT NULL DEFAULT ''," // yyyy-MM-dd
    " updated_at INTEGER NOT NULL)",
};
const char *const kStepTo3[] = {
    "CREATE TABLE review_queue ("
    " id INTEGER PRIMARY KEY,"
    " order_number TEXT NOT NULL DEFAULT '',"
    " buyer_id TEXT NOT NULL,"
    " reasons TEXT NOT NULL DEFAULT '[]'," // a JSON array of texts
    " source TEXT NOT NULL DEFAULT '',"
    " queued_at INTEGER NOT NULL," // milliseconds since 1970-01-01 UTC
    " handled_at INTEGER,"         // NULL: waiting
    " note TEXT NOT NULL DEFAULT '',"
    " UNIQUE (order_number, buyer_id))",
    "CREATE INDEX review_waiting ON review_queue (handled_at, queued_at)",
};
struct Step
{
    const char *const *statements;
    size_t count;
};
const Step kSteps[] = {
    {kStepTo1, std::size(kStepTo1)},
    {kStepTo2, std::size(kStepTo2)},
    {kStepTo3, std::size(kStepTo3)},
};
constexpr int kSchemaVersion = int(std::size(kSteps));

// Another program's writer holds the file for one short transaction at a time; wait for it
// rather than lose a lookup. A write still refused after the timeout is tried again, as a
// whole, until kWriteAttempts have failed (a minute in all).
const QString kBusyTimeout = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");
constexpr int kWriteAttempts = 6;
// A long import commits in slices and pauses between them for longer than SQLite's longest
// wait between two looks at a busy file (100 ms), so that the writers of other programs get in.
constexpr qint64 kImportSliceMs = 250;
constexpr int kImportPauseMs = 120;

// The record's fields in the order of the columns after buyer_id... credit_url.
QString BuyerCreditRecord::*const kRecordFields[] = {
    &BuyerCreditRecord::buyerId,      &BuyerCreditRecord::nick,
    &BuyerCreditRecord::regTime,      &BuyerCreditRecord::address,
    &BuyerCreditRecord::verification, &BuyerCreditRecord::goodRate,
    &BuyerCreditRecord::goodCount,    &BuyerCreditRecord::neutralCount,
    &BuyerCreditRecord::badCount,     &BuyerCreditRecord::neutralGiven,
    &BuyerCreditRecord::badGiven,     &BuyerCreditRecord::creditUrl};
const QString kRecordColumns = QStringLiteral(
    "buyer_id, nick, reg_time, address, verification, good_rate, good_count, neutral_count, "
    "bad_count, neutral_given, bad_given, credit_url");
const QString kLookupColumns = QStringLiteral("lookups.id, looked_up_at, ") + kRecordColumns +
                               QStringLiteral(", lookup_pages.pages");
const QString kLookupTables =
    QStringLiteral(" FROM lookups LEFT JOIN lookup_pages ON lookup_pages.lookup_id = lookups.id");
const QString kNoteColumns =
    QStringLiteral("buyer_id, note, listed, reason, listed_on, updated_at");

// Text bound as text: Qt SQL binds a null QString as NULL, which the columns refuse.
QVariant text(const QString &value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

qint64 queuedAt(const ReviewEntry &entry)
{
    return entry.queued.isValid() ? entry.queued.toMSecsSinceEpoch()
                                  : QDateTime::currentMSecsSinceEpoch();
}

QString pagesJson(const PageResults &pages)
{
    QJsonArray array;
    for (const PageResult &p : pages) {
        array.append(QJsonObject{{QStringLiteral("outcome"), p.outcomeText()},
                                 {QStringLiteral("status"), p.status},
                                 {QStringLiteral("bytes"), p.bytes},
                                 {QStringLiteral("ms"), p.elapsedMs},
                                 {QStringLiteral("address"), p.address}});
    }
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QString reasonsJson(const QStringList &reasons)
{
    return QString::fromUtf8(
        QJsonDocument(QJsonArray::fromStringList(reasons)).toJson(QJsonDocument::Compact));
}

QList<StoredPage> pagesFromJson(const QString &text)
{
    QList<StoredPage> pages;
    const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
    for (const QJsonValue &v : array) {
        const QJsonObject o = v.toObject();
        StoredPage p;
        p.outcome = o.value(QLatin1String("outcome")).toString();
        p.status = o.value(QLatin1String("status")).toInt();
        p.bytes = qint64(o.value(QLatin1String("bytes")).toDouble());
        p.elapsedMs = qint64(o.value(QLatin1String("ms")).toDouble());
        p.address = o.value(QLatin1String("address")).toString();
        pages.append(p);
    }
    return pages;
}

ListMark markFromName(const QString &name)
{
    if (name == QLatin1String("blacklist"))
        return ListMark::Blacklist;
    if (name == QLatin1String("trusted"))
        return ListMark::Trusted;
    return ListMark::None;
}

std::atomic<int> g_connectionCount{0};

} // namespace

// Owns the database's thread, its connection and everything it knows; every member below the
// queue is touched on that thread only.
class SellerDatabase::Worker
{
public:
    Worker()
        : m_connection(QStringLiteral("brelvon-storage-%1").arg(++g_connectionCount)),
          m_thread([this] { loop(); })
    {
    }
    ~Worker()
    {
        call([this] { closeConnection(); });
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    // Runs f on the database's thread and returns its result.
    template <class F> auto call(F f) -> decltype(f())
    {
        std::packaged_task<decltype(f())()> task(std::move(f));
        auto result = task.get_future();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.emplace_back([&task] { task(); });
        }
        m_wake.notify_one();
        return result.get();
    }

    bool open(const QString &path, OpenMode mode);
    void closeConnection();

    bool addLookup(const BuyerQueryResult &result, const QDateTime &time);
    QList<StoredLookup> history(const HistoryFilter &filter);
    qint64 lookupCount();
    FieldFill fieldFill(const QDateTime &since, const QDateTime &before);
    BuyerNote note(const QString &buyerId);
    QList<BuyerNote> notes();
    bool saveNote(const BuyerNote &note);
    bool removeNote(const QString &buyerId, bool *existed);
    bool removeLookups(const QList<qint64> &rowIds, int *removed);
    bool importBlacklist(const QList<BlacklistEntry> &entries, ImportReport *report);
    bool queueForReview(const QList<ReviewEntry> &entries, int *added);
    QList<ReviewEntry> reviewQueue(bool withHandled);
    int reviewCount();
    bool markReviewed(const QString &where, const QVariantList &values, const QString &note,
                      int *marked);

    State state = State::Closed;
    QString path;
    QString problem;
    QString movedAside;

private:
    void loop()
    {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stop || !m_tasks.empty(); });
                if (m_tasks.empty())
                    return;
                task = std::move(m_tasks.front());
                m_tasks.pop_front();
            }
            task();
        }
    }

    bool connect(bool readOnly, bool unchanging);
    bool setUp(bool readOnly);
    bool migrate(int from);
    int readVersion(QSqlQuery &q, bool *ok);
    bool off(const QString &why);
    // Says what went wrong with SQL and puts the database in the state that follows: a damaged
    // file is moved aside, a file that turned read-only is only read from. Returns false.
    bool failed(const QSqlError &error, const QString &doing);
    bool moveAside(const QString &detail);
    // Runs one write (a whole transaction), again while another connection keeps the file
    // busy; the last error stays in *error.
    template <class Write> bool writeWithRetries(Write write, QSqlError *error)
    {
        for (int attempt = 1;; ++attempt) {
            if (write(error))
                return true;
            const int code = error->nativeErrorCode().toInt();
            if ((code != SqliteBusy && code != SqliteLocked) || attempt == kWriteAttempts)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    bool exec(QSqlQuery &q, const QString &sql) { return q.exec(sql); }
    bool begin(QSqlQuery &q) { return q.exec(QStringLiteral("BEGIN IMMEDIATE")); }
    void rollback()
    {
        QSqlQuery q(m_db);
        q.exec(QStringLiteral("ROLLBACK"));
    }
    StoredLookup lookupFrom(const QSqlQuery &q) const;
    BuyerNote noteFrom(const QSqlQuery &q) const;
    bool writeNote(QSqlQuery &q, const BuyerNote &note);
    bool readable() const { return state == State::Ready || state == State::ReadOnly; }

    const QString m_connection;
    QSqlDatabase m_db;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stop = false;
    std::thread m_thread; // last: starts once everything above is in place
};

bool SellerDatabase::Worker::off(const QString &why)
{
    closeConnection();
    state = State::Off;
    problem =
        inUserLanguage(QStringLiteral("查询历史已关闭："), QStringLiteral("history is off: ")) +
        why;
    return false;
}

void SellerDatabase::Worker::closeConnection()
{
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
    if (state != State::Off)
        state = State::Closed;
}

bool SellerDatabase::Worker::open(const QString &path_, OpenMode mode)
{
    closeConnection();
    state = State::Closed;
    path = path_;
    problem.clear();
    movedAside.clear();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
        return off(inUserLanguage(
            QStringLiteral("缺少 Qt 的 SQLite 驱动（Debian 软件包 libqt6sql6-sqlite）"),
            QStringLiteral("Qt's SQLite driver is missing (Debian package libqt6sql6-sqlite)")));
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        return off(inUserLanguage(QStringLiteral("数据库 %1 不是文件"),
                                  QStringLiteral("the database %1 is not a file"))
                       .arg(path));
    if (!info.exists()) {
        if (mode == OpenMode::ExistingOnly)
            return false; // nothing kept yet: reads give nothing
        QString error;
        if (!createOwnerOnlyFile(path, &error))
            return off(inUserLanguage(QStringLiteral("无法创建数据库 %1：%2"),
                                      QStringLiteral("cannot create the database %1: %2"))
                           .arg(path, error));
    } else if (info.size() > 0) {
        // A file that is no SQLite database at all (a name mistyped after --database) is the
        // user's, not a damaged database: it is left where it is.
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return off(inUserLanguage(QStringLiteral("无法读取数据库 %1：%2"),
                                      QStringLiteral("cannot read the database %1: %2"))
                           .arg(path, file.errorString()));
        if (file.read(16) != QByteArrayView("SQLite format 3\0", 16))
            return off(
                inUserLanguage(QStringLiteral("%1 不是 SQLite 数据库，未作改动"),
                               QStringLiteral("%1 is not an SQLite database; it was left as it is"))
                    .arg(path));
    }
    // WAL needs its -wal and -shm files beside the database: a read-only folder (a backup
    // mounted read-only, another user's copy) allows reading only, and without the locks that
    // live in those files.
    const bool folderWritable = ownerMayWrite(QFileInfo(QFileInfo(path).absolutePath()));
    const bool readOnly = !folderWritable || !ownerMayWrite(QFileInfo(path));
    return connect(readOnly, !folderWritable) && setUp(readOnly);
}

bool SellerDatabase::Worker::connect(bool readOnly, bool unchanging)
{
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (readOnly) {
        // Opened read-only by SQLite itself, not merely never written: a read-only file is then
        // read instead of failing at its first statement. Nobody can change a file in a folder
        // nobody may write, so SQLite need not create its lock files there.
        QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
        url.setQuery(unchanging ? QStringLiteral("mode=ro&immutable=1")
                                : QStringLiteral("mode=ro"));
        m_db.setDatabaseName(url.toString(QUrl::FullyEncoded));
        m_db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY;") +
                               kBusyTimeout);
    } else {
        m_db.setDatabaseName(path);
        m_db.setConnectOptions(kBusyTimeout);
    }
    if (!m_db.open())
        return off(inUserLanguage(QStringLiteral("无法打开数据库 %1：%2"),
                                  QStringLiteral("cannot open the database %1: %2"))
                       .arg(path, m_db.lastError().databaseText()));
    return true;
}

int SellerDatabase::Worker::readVersion(QSqlQuery &q, bool *ok)
{
    *ok = q.exec(QStringLiteral("SELECT max(version) FROM schema_version"));
    return *ok && q.next() ? q.value(0).toInt() : 0;
}

bool SellerDatabase::Worker::setUp(bool readOnly)
{
    QSqlQuery q(m_db);
    // Whose file is this? Ours has the version table; an empty one is new. Nothing is written
    // to a file before it is known to be ours.
    if (!exec(q, QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return failed(q.lastError(), QStringLiteral("open"));
    QStringList tables;
    while (q.next())
        tables.append(q.value(0).toString());
    int version = 0;
    if (tables.contains(QLatin1String("schema_version"))) {
        bool ok = false;
        version = readVersion(q, &ok);
        if (!ok)
            return failed(q.lastError(), QStringLiteral("open"));
    } else if (!tables.isEmpty()) {
        return off(QStringLiteral("%1 is not a Brelvon database; it was left as it is").arg(path));
    }
    if (version > kSchemaVersion)
        return off(QStringLiteral("%1 was written by a newer version of Brelvon (layout %2); it "
                                  "was left as it is")
                       .arg(path, QString::number(version)));
    if (readOnly) {
        if (version < kSchemaVersion)
            return off(inUserLanguage(QStringLiteral("数据库 %1 是只读的"),
                                      QStringLiteral("the database %1 is read-only"))
                           .arg(path));
        state = State::ReadOnly;
        problem =
            inUserLanguage(
                QStringLiteral("查询历史已关闭：数据库 %1 是只读的（备注和以往的查询照常读取）"),
                QStringLiteral("history is off: the database %1 is read-only (notes and past "
                               "lookups are still read)"))
                .arg(path);
        return true;
    }
    if (!exec(q, QStringLiteral("PRAGMA journal_mode=WAL")))
        return failed(q.lastError(), QStringLiteral("open"));
    // Safe with WAL: a crash of the machine may cost the last commits, never the file.
    exec(q, QStringLiteral("PRAGMA synchronous=NORMAL"));
    if (version < kSchemaVersion && !migrate(version))
        return false;
    state = State::Ready;
    return true;
}

bool SellerDatabase::Worker::migrate(int from)
{
    QSqlQuery q(m_db);
    if (!begin(q))
        return failed(q.lastError(), QStringLiteral("upgrade"));
    // Another program may have upgraded the file since it was looked at.
    bool ok = exec(q, QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version "
                                     "(version INTEGER NOT NULL)"));
    int version = ok ? readVersion(q, &ok) : from;
    for (; ok && version < kSchemaVersion; ++version) {
        const Step &step = kSteps[version];
        for (size_t i = 0; ok && i < step.count; ++i)
            ok = exec(q, QLatin1String(step.statements[i]));
    }
    if (ok)
        ok = exec(q, QStringLiteral("DELETE FROM schema_version"));
    if (ok) {
        ok = q.prepare(QStringLiteral("INSERT INTO schema_version (version) VALUES (?)"));
        q.addBindValue(kSchemaVersion);
        ok = ok && q.exec();
    }
    if (ok)
        ok = exec(q, QStringLiteral("COMMIT"));
    if (!ok) {
        const QSqlError error = q.lastError();
        rollback();
        return failed(error, QStringLiteral("upgrade"));
    }
    return true;
}

bool SellerDatabase::Worker::failed(const QSqlError &error, const QString &doing)
{
    const int code = error.nativeErrorCode().toInt();
    const QString detail = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    if (code == SqliteCorrupt || code == SqliteNotADatabase)
        return moveAside(detail);
    if (code == SqliteReadOnly) {
        if (doing == QLatin1String("open") || doing == QLatin1String("upgrade"))
            return off(inUserLanguage(QStringLiteral("数据库 %1 是只读的"),
                                      QStringLiteral("the database %1 is read-only"))
                           .arg(path));
        state = State::ReadOnly;
        problem = inUserLanguage(QStringLiteral("查询历史已关闭：数据库 %1 变成了只读"),
                                 QStringLiteral("history is off: the database %1 became read-only"))
                      .arg(path);
        return false;
    }
    if (code == SqliteCantOpen)
        return off(inUserLanguage(QStringLiteral("无法打开数据库 %1：%2"),
                                  QStringLiteral("cannot open the database %1: %2"))
                       .arg(path, detail));
    if (doing == QLatin1String("open") || doing == QLatin1String("upgrade"))
        return off(QStringLiteral("cannot %1 the database %2: %3").arg(doing, path, detail));
    // A full disk, or a writer of another program that held on too long: this call failed, the
    // next may work.
    problem = inUserLanguage(QStringLiteral("数据库 %1 无法%2（%3）%4"),
                             QStringLiteral("the database %1 could not be %2 (%3)%4"))
                  .arg(path,
                       doing == QLatin1String("read")
                           ? inUserLanguage(QStringLiteral("读取"), QStringLiteral("read"))
                           : inUserLanguage(QStringLiteral("写入"), QStringLiteral("written")),
                       detail,
                       code == SqliteFull ? inUserLanguage(QStringLiteral("：磁盘已满"),
                                                           QStringLiteral(": the disk is full"))
                                          : QString());
    return false;
}

bool SellerDatabase::Worker::moveAside(const QString &detail)
{
    closeConnection();
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = path + QLatin1String(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(target) || QFileInfo::exists(target + QLatin1String("-wal"));
         ++n)
        target = path + QLatin1String(".damaged-") + stamp + u'-' + QString::number(n);
    QFile file(path);
    if (!file.rename(target))
        return off(
            inUserLanguage(QStringLiteral("数据库 %1 已损坏（%2），无法改名移开（%3），未作改动"),
                           QStringLiteral("the database %1 is damaged (%2) and could not be "
                                          "moved aside (%3); it was left as it is"))
                .arg(path, detail, file.errorString()));
    // Its journal belongs to it: a new database must not replay it. SQLite finds it beside the
    // moved file under the same name, for whoever tries to rescue it.
    for (const char *suffix : {"-wal", "-shm"}) {
        if (QFileInfo::exists(path + QLatin1String(suffix)))
            QFile::rename(path + QLatin1String(suffix), target + QLatin1String(suffix));
    }
    movedAside = target;
    return off(
        inUserLanguage(QStringLiteral("数据库 %1 已损坏（%2），已改名为 %3，下次启动时新建数据库"),
                       QStringLiteral("the database %1 is damaged (%2); it was moved to %3, "
                                      "and a new one is started next time"))
            .arg(path, detail, target));
}

bool SellerDatabase::Worker::addLookup(const BuyerQueryResult &result, const QDateTime &time)
{
    if (state != State::Ready)
        return false;
    QSqlError error;
    const bool stored = writeWithRetries(
        [&](QSqlError *e) {
            QSqlQuery q(m_db);
            bool ok = begin(q);
            if (ok) {
                q.prepare(QStringLiteral("INSERT INTO lookups (looked_up_at, ") + kRecordColumns +
                          QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
                q.addBindValue(time.toMSecsSinceEpoch());
                for (QString BuyerCreditRecord::*field : kRecordFields)
                    q.addBindValue(text(result.record.*field));
                ok = q.exec();
            }
            if (ok) {
                const QVariant id = q.lastInsertId();
                q.prepare(
                    QStringLiteral("INSERT INTO lookup_pages (lookup_id, pages) VALUES (?, ?)"));
                q.addBindValue(id);
                q.addBindValue(pagesJson(result.pages));
                ok = q.exec();
            }
            if (ok)
                ok = exec(q, QStringLiteral("COMMIT"));
            if (!ok) {
                *e = q.lastError();
                rollback();
            }
            return ok;
        },
        &error);
    return stored || failed(error, QStringLiteral("store"));
}

StoredLookup SellerDatabase::Worker::lookupFrom(const QSqlQuery &q) const
{
    StoredLookup l;
    l.rowId = q.value(0).toLongLong();
    l.time = QDateTime::fromMSecsSinceEpoch(q.value(1).toLongLong());
    int column = 2;
    for (QString BuyerCreditRecord::*field : kRecordFields)
        l.record.*field = q.value(column++).toString();
    l.pages = pagesFromJson(q.value(column).toString());
    return l;
}

QList<StoredLookup> SellerDatabase::Worker::history(const HistoryFilter &filter)
{
    QList<StoredLookup> out;
    if (!readable())
        return out;
    QStringList where;
    QVariantList values;
    if (!filter.buyerIds.isEmpty()) {
        QStringList marks;
        for (const QString &id : filter.buyerIds) {
            marks.append(QStringLiteral("?"));
            values.append(id);
        }
        where.append(QStringLiteral("buyer_id IN (") + marks.join(u',') + u')');
    }
    if (filter.since.isValid()) {
        where.append(QStringLiteral("looked_up_at >= ?"));
        values.append(filter.since.toMSecsSinceEpoch());
    }
    if (filter.until.isValid()) {
        where.append(QStringLiteral("looked_up_at < ?"));
        values.append(filter.until.toMSecsSinceEpoch());
    }
    if (!filter.text.isEmpty()) {
        where.append(QStringLiteral("(instr(buyer_id, ?) > 0 OR instr(nick, ?) > 0)"));
        values.append(filter.text);
        values.append(filter.text);
    }
    QString sql = filter.withPages ? QStringLiteral("SELECT ") + kLookupColumns + kLookupTables
                                   : QStringLiteral("SELECT lookups.id, looked_up_at, ") +
                                         kRecordColumns + QStringLiteral(", NULL FROM lookups");
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QLatin1String(" AND "));
    // A search for a text reads every lookup anyway: in the table's order, which is about three
    // times quicker than through the time index ("+" keeps the index out of the ordering).
    sql += filter.text.isEmpty() ? QStringLiteral(" ORDER BY looked_up_at DESC, lookups.id DESC")
                                 : QStringLiteral(" ORDER BY +looked_up_at DESC, lookups.id DESC");
    if (filter.limit > 0) {
        sql += QStringLiteral(" LIMIT ?");
        values.append(filter.limit);
    }
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    q.prepare(sql);
    for (const QVariant &v : std::as_const(values))
        q.addBindValue(v);
    if (!q.exec()) {
        failed(q.lastError(), QStringLiteral("read"));
        return out;
    }
    while (q.next())
        out.append(lookupFrom(q));
    return out;
}

qint64 SellerDatabase::Worker::lookupCount()
{
    if (!readable())
        return 0;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM lookups"))) {
        failed(q.lastError(), QStringLiteral("read"));
        return 0;
    }
    return q.next() ? q.value(0).toLongLong() : 0;
}

FieldFill SellerDatabase::Worker::fieldFill(const QDateTime &since, const QDateTime &before)
{
    // The columns of the fields staleCheckedFields() names, in its order.
    static const char *const columns[] = {
        "nick",       "reg_time",      "address",   "verification",  "good_rate",
        "good_count", "neutral_count", "bad_count", "neutral_given", "bad_given"};
    static_assert(std::size(columns) == FieldFill::kFields);
    FieldFill fill;
    if (!readable())
        return fill;
    QString sql = QStringLiteral("SELECT count(*)");
    for (const char *column : columns)
        sql += QStringLiteral(", total(trim(%1) <> '')").arg(QLatin1String(column));
    sql += QStringLiteral(" FROM lookups WHERE looked_up_at >= ? AND looked_up_at < ?"
                          " AND trim(credit_url) <> ''");
    QSqlQuery q(m_db);
    q.prepare(sql);
    q.addBindValue(since.toMSecsSinceEpoch());
    q.addBindValue(before.toMSecsSinceEpoch());
    if (!q.exec()) {
        failed(q.lastError(), QStringLiteral("read"));
        return fill;
    }
    if (q.next()) {
        fill.found = q.value(0).toInt();
        for (size_t i = 0; i < FieldFill::kFields; ++i)
            fill.filled[i] = q.value(int(i) + 1).toInt();
    }
    return fill;
}

BuyerNote SellerDatabase::Worker::noteFrom(const QSqlQuery &q) const
{
    BuyerNote n;
    n.buyerId = q.value(0).toString();
    n.note = q.value(1).toString();
    n.listed = markFromName(q.value(2).toString());
    n.reason = q.value(3).toString();
    n.listedOn = QDate::fromString(q.value(4).toString(), Qt::ISODate);
    n.updated = QDateTime::fromMSecsSinceEpoch(q.value(5).toLongLong());
    return n;
}

BuyerNote SellerDatabase::Worker::note(const QString &buyerId)
{
    BuyerNote n;
    n.buyerId = buyerId;
    if (!readable())
        return n;
    QSqlQuery q(m_db);
    q.prepare(QStringLiteral("SELECT ") + kNoteColumns +
              QStringLiteral(" FROM notes WHERE buyer_id = ?"));
    q.addBindValue(buyerId);
    if (!q.exec())
        failed(q.lastError(), QStringLiteral("read"));
    else if (q.next())
        n = noteFrom(q);
    return n;
}

QList<BuyerNote> SellerDatabase::Worker::notes()
{
    QList<BuyerNote> out;
    if (!readable())
        return out;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT ") + kNoteColumns +
                QStringLiteral(" FROM notes ORDER BY buyer_id"))) {
        failed(q.lastError(), QStringLiteral("read"));
        return out;
    }
    while (q.next())
        out.append(noteFrom(q));
    return out;
}

bool SellerDatabase::Worker::writeNote(QSqlQuery &q, const BuyerNote &n)
{
    if (n.isEmpty()) {
        q.prepare(QStringLiteral("DELETE FROM notes WHERE buyer_id = ?"));
        q.addBindValue(n.buyerId);
        return q.exec();
    }
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO notes (") + kNoteColumns +
              QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?)"));
    q.addBindValue(text(n.buyerId));
    q.addBindValue(text(n.note));
    q.addBindValue(text(listMarkName(n.listed)));
    q.addBindValue(text(n.listed == ListMark::Blacklist ? n.reason : QString()));
    q.addBindValue(text(n.listed != ListMark::None && n.listedOn.isValid()
                            ? n.listedOn.toString(Qt::ISODate)
                            : QString()));
    q.addBindValue(QDateTime::currentMSecsSinceEpoch());
    return q.exec();
}

bool SellerDatabase::Worker::saveNote(const BuyerNote &note)
{
    if (state != State::Ready)
        return false;
    QSqlError error;
    const bool stored = writeWithRetries(
        [&](QSqlError *e) {
            QSqlQuery q(m_db);
            const bool ok = writeNote(q, note);
            if (!ok)
                *e = q.lastError();
            return ok;
        },
        &error);
    return stored || failed(error, QStringLiteral("store"));
}

bool SellerDatabase::Worker::removeNote(const QString &buyerId, bool *existed)
{
    if (existed)
        *existed = false;
    if (state != State::Ready)
        return false;
    QSqlError error;
    const bool removed = writeWithRetries(
        [&](QSqlError *e) {
            QSqlQuery q(m_db);
            q.prepare(QStringLiteral("DELETE FROM notes WHERE buyer_id = ?"));
            q.addBindValue(buyerId);
            if (!q.exec()) {
                *e = q.lastError();
                return false;
            }
            if (existed)
                *existed = q.numRowsAffected() > 0;
            return true;
        },
        &error);
    return removed || failed(error, QStringLiteral("store"));
}

bool SellerDatabase::Worker::removeLookups(const QList<qint64> &rowIds, int *removed)
{
    if (removed)
        *removed = 0;
    if (state != State::Ready)
        return false;
    QSqlError error;
    int count = 0;
    // All of them or none: a lookup never loses its pages and keeps its row.
    const bool done = writeWithRetries(
        [&](QSqlError *e) {
            count = 0;
            QSqlQuery q(m_db);
            bool ok = begin(q);
            for (qsizetype i = 0; ok && i < rowIds.size(); ++i) {
                q.prepare(QStringLiteral("DELETE FROM lookup_pages WHERE lookup_id = ?"));
                q.addBindValue(rowIds.at(i));
                ok = q.exec();
                if (ok) {
                    q.prepare(QStringLiteral("DELETE FROM lookups WHERE id = ?"));
                    q.addBindValue(rowIds.at(i));
                    ok = q.exec();
                    count += ok ? q.numRowsAffected() : 0;
                }
            }
            if (ok)
                ok = exec(q, QStringLiteral("COMMIT"));
            if (!ok) {
                *e = q.lastError();
                rollback();
            }
            return ok;
        },
        &error);
    if (done && removed)
        *removed = count;
    return done || failed(error, QStringLiteral("store"));
}

bool SellerDatabase::Worker::importBlacklist(const QList<BlacklistEntry> &entries,
                                             ImportReport *report)
{
    if (state != State::Ready)
        return false;
    ImportReport r;
    const QDate today = QDate::currentDate();
    // One slice: the entries from next on, for up to kImportSliceMs, in one transaction. The
    // report counts only what was committed.
    qsizetype next = 0;
    const auto slice = [&](QSqlError *e) {
        ImportReport part = r;
        qsizetype i = next;
        QSqlQuery q(m_db);
        if (!begin(q)) {
            *e = q.lastError();
            return false;
        }
        QSqlQuery read(m_db);
        read.prepare(QStringLiteral("SELECT ") + kNoteColumns +
                     QStringLiteral(" FROM notes WHERE buyer_id = ?"));
        QElapsedTimer clock;
        clock.start();
        for (; i < entries.size() && clock.elapsed() < kImportSliceMs; ++i) {
            const BlacklistEntry &entry = entries.at(i);
            BuyerNote n;
            n.buyerId = entry.buyerId;
            read.addBindValue(entry.buyerId);
            if (!read.exec()) {
                *e = read.lastError();
                rollback();
                return false;
            }
            if (read.next())
                n = noteFrom(read);
            read.finish();
            if (n.listed == ListMark::Trusted) {
                ++part.refused;
                part.problems.append(QStringLiteral("line %1: %2 is marked trusted here; it was "
                                                    "left as it is")
                                         .arg(entry.line)
                                         .arg(entry.buyerId));
                continue;
            }
            const bool known = !n.isEmpty();
            const bool wasListed = n.listed == ListMark::Blacklist;
            BuyerNote updated = n;
            updated.listed = ListMark::Blacklist;
            if (!entry.reason.isEmpty())
                updated.reason = entry.reason;
            if (entry.date.isValid())
                updated.listedOn = entry.date;
            else if (!wasListed)
                updated.listedOn = today;
            if (wasListed && updated.reason == n.reason && updated.listedOn == n.listedOn) {
                ++part.unchanged;
                continue;
            }
            if (!writeNote(q, updated)) {
                *e = q.lastError();
                rollback();
                return false;
            }
            ++(known ? part.updated : part.added);
        }
        if (!exec(q, QStringLiteral("COMMIT"))) {
            *e = q.lastError();
            rollback();
            return false;
        }
        r = part;
        next = i;
        return true;
    };
    do {
        if (next > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(kImportPauseMs));
        QSqlError error;
        if (!writeWithRetries(slice, &error)) {
            r.imported = next;
            *report = r;
            return failed(error, QStringLiteral("store"));
        }
    } while (next < entries.size());
    r.imported = next;
    *report = r;
    return true;
}

bool SellerDatabase::Worker::queueForReview(const QList<ReviewEntry> &entries, int *added)
{
    if (added)
        *added = 0;
    if (state != State::Ready)
        return false;
    int count = 0;
    QSqlError error;
    const bool stored = writeWithRetries(
        [&](QSqlError *e) {
            count = 0;
            QSqlQuery q(m_db);
            bool ok = begin(q);
            QSqlQuery find(m_db);
            for (const ReviewEntry &entry : entries) {
                if (!ok)
                    break;
                find.prepare(QStringLiteral("SELECT id, handled_at IS NULL FROM review_queue"
                                            " WHERE order_number = ? AND buyer_id = ?"));
                find.addBindValue(text(keptOrderNumber(entry.orderNumber)));
                find.addBindValue(text(entry.buyerId));
                if (!find.exec()) {
                    *e = find.lastError();
                    rollback();
                    return false;
                }
                const bool known = find.next();
                const qint64 id = known ? find.value(0).toLongLong() : 0;
                const bool waiting = known && find.value(1).toBool();
                find.finish();
                if (known && !waiting)
                    continue; // the seller has dealt with this order
                if (known) {
                    // Queued again: it waits from now, from the file that named it now.
                    q.prepare(QStringLiteral("UPDATE review_queue SET reasons = ?, source = ?,"
                                             " queued_at = ? WHERE id = ?"));
                    q.addBindValue(reasonsJson(entry.reasons));
                    q.addBindValue(text(entry.source));
                    q.addBindValue(queuedAt(entry));
                    q.addBindValue(id);
                } else {
                    q.prepare(QStringLiteral(
                        "INSERT INTO review_queue (order_number, buyer_id, reasons, source,"
                        " queued_at) VALUES (?, ?, ?, ?, ?)"));
                    q.addBindValue(text(keptOrderNumber(entry.orderNumber)));
                    q.addBindValue(text(entry.buyerId));
                    q.addBindValue(reasonsJson(entry.reasons));
                    q.addBindValue(text(entry.source));
                    q.addBindValue(queuedAt(entry));
                }
                ok = q.exec();
                if (ok && !known)
                    ++count;
            }
            if (ok)
                ok = exec(q, QStringLiteral("COMMIT"));
            if (!ok) {
                *e = q.lastError();
                rollback();
            }
            return ok;
        },
        &error);
    if (added)
        *added = count;
    return stored || failed(error, QStringLiteral("store"));
}

QList<ReviewEntry> SellerDatabase::Worker::reviewQueue(bool withHandled)
{
    QList<ReviewEntry> out;
    if (!readable())
        return out;
    QSqlQuery q(m_db);
    q.setForwardOnly(true);
    const QString sql =
        QStringLiteral("SELECT id, order_number, buyer_id, reasons, source, queued_at, handled_at,"
                       " note FROM review_queue") +
        (withHandled ? QStringLiteral(" ORDER BY handled_at IS NOT NULL, handled_at, queued_at, id")
                     : QStringLiteral(" WHERE handled_at IS NULL ORDER BY queued_at, id"));
    if (!q.exec(sql)) {
        failed(q.lastError(), QStringLiteral("read"));
        return out;
    }
    while (q.next()) {
        ReviewEntry e;
        e.rowId = q.value(0).toLongLong();
        e.orderNumber = q.value(1).toString();
        e.buyerId = q.value(2).toString();
        for (const QJsonValue &v : QJsonDocument::fromJson(q.value(3).toString().toUtf8()).array())
            e.reasons.append(v.toString());
        e.source = q.value(4).toString();
        e.queued = QDateTime::fromMSecsSinceEpoch(q.value(5).toLongLong());
        if (!q.value(6).isNull())
            e.handled = QDateTime::fromMSecsSinceEpoch(q.value(6).toLongLong());
        e.note = q.value(7).toString();
        out.append(e);
    }
    return out;
}

int SellerDatabase::Worker::reviewCount()
{
    if (!readable())
        return 0;
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM review_queue WHERE handled_at IS NULL"))) {
        failed(q.lastError(), QStringLiteral("read"));
        return 0;
    }
    return q.next() ? q.value(0).toInt() : 0;
}

bool SellerDatabase::Worker::markReviewed(const QString &where, const QVariantList &values,
                                          const QString &note, int *marked)
{
    if (marked)
        *marked = 0;
    if (state != State::Ready)
        return false;
    QSqlError error;
    const bool stored = writeWithRetries(
        [&](QSqlError *e) {
            QSqlQuery q(m_db);
            q.prepare(QStringLiteral("UPDATE review_queue SET handled_at = ?, note = ?"
                                     " WHERE handled_at IS NULL AND (") +
                      where + u')');
            q.addBindValue(QDateTime::currentMSecsSinceEpoch());
            q.addBindValue(text(note));
            for (const QVariant &v : values)
                q.addBindValue(v);
            if (!q.exec()) {
                *e = q.lastError();
                return false;
            }
            if (marked)
                *marked = q.numRowsAffected();
            return true;
        },
        &error);
    return stored || failed(error, QStringLiteral("store"));
}

SellerDatabase::SellerDatabase() : d(std::make_unique<Worker>()) {}

SellerDatabase::~SellerDatabase() = default;

bool SellerDatabase::open(const QString &path, OpenMode mode)
{
    return d->call([&] { return d->open(path, mode); });
}

void SellerDatabase::close()
{
    d->call([&] {
        d->closeConnection();
        d->state = State::Closed;
    });
}

SellerDatabase::State SellerDatabase::state() const
{
    return d->call([&] { return d->state; });
}

bool SellerDatabase::canRead() const
{
    const State s = state();
    return s == State::Ready || s == State::ReadOnly;
}

bool SellerDatabase::canWrite() const
{
    return state() == State::Ready;
}

QString SellerDatabase::path() const
{
    return d->call([&] { return d->path; });
}

QString SellerDatabase::problem() const
{
    return d->call([&] { return d->problem; });
}

QString SellerDatabase::movedAside() const
{
    return d->call([&] { return d->movedAside; });
}

int SellerDatabase::schemaVersion()
{
    return kSchemaVersion;
}

bool SellerDatabase::addLookup(const BuyerQueryResult &result, const QDateTime &time)
{
    return d->call([&] { return d->addLookup(result, time); });
}

std::optional<StoredLookup> SellerDatabase::lastLookup(const QString &buyerId) const
{
    HistoryFilter filter;
    filter.buyerIds = QStringList{buyerId};
    filter.limit = 1;
    const QList<StoredLookup> found = history(filter);
    if (found.isEmpty())
        return std::nullopt;
    return found.constFirst();
}

QList<StoredLookup> SellerDatabase::history(const HistoryFilter &filter) const
{
    return d->call([&] { return d->history(filter); });
}

qint64 SellerDatabase::lookupCount() const
{
    return d->call([&] { return d->lookupCount(); });
}

FieldFill SellerDatabase::fieldFill(const QDateTime &since, const QDateTime &before) const
{
    return d->call([&] { return d->fieldFill(since, before); });
}

BuyerNote SellerDatabase::note(const QString &buyerId) const
{
    return d->call([&] { return d->note(buyerId); });
}

QList<BuyerNote> SellerDatabase::notes() const
{
    return d->call([&] { return d->notes(); });
}

bool SellerDatabase::saveNote(const BuyerNote &note)
{
    return d->call([&] { return d->saveNote(note); });
}

bool SellerDatabase::removeNote(const QString &buyerId, bool *existed)
{
    return d->call([&] { return d->removeNote(buyerId, existed); });
}

bool SellerDatabase::removeLookups(const QList<qint64> &rowIds, int *removed)
{
    return d->call([&] { return d->removeLookups(rowIds, removed); });
}

bool SellerDatabase::importBlacklist(const QList<BlacklistEntry> &entries, ImportReport *report)
{
    return d->call([&] { return d->importBlacklist(entries, report); });
}

bool SellerDatabase::queueForReview(const QList<ReviewEntry> &entries, int *added)
{
    return d->call([&] { return d->queueForReview(entries, added); });
}

QList<ReviewEntry> SellerDatabase::reviewQueue(bool withHandled) const
{
    return d->call([&] { return d->reviewQueue(withHandled); });
}

int SellerDatabase::reviewCount() const
{
    return d->call([&] { return d->reviewCount(); });
}

bool SellerDatabase::markReviewed(const QString &key, const QString &note, int *marked)
{
    return d->call([&] {
        return d->markReviewed(
            QStringLiteral("order_number = ? OR (order_number = '' AND buyer_id = ?)"),
            {text(keptOrderNumber(key)), text(key)}, note, marked);
    });
}

bool SellerDatabase::markReviewed(qint64 rowId, const QString &note)
{
    int marked = 0;
    const bool ok =
        d->call([&] { return d->markReviewed(QStringLiteral("id = ?"), {rowId}, note, &marked); });
    return ok && marked > 0;
}
