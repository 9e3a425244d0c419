#include "watch/orderwatcher.h"

#include "engine/batchengine.h"
#include "files/orderfile.h"
#include "files/outputguard.h"
#include "files/spreadsheetexport.h"
#include "lookup/lookuprunner.h"
#include "lookup/lookupservice.h"
#include "lookup/lookupsession.h"
#include "model/uilanguage.h"
#include "watch/batchfindings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

// The suffix of the tables: the watcher never takes one of them for an export.
const QString kTableSuffix = QStringLiteral("_检查结果");

// A name in folder that no file has: NAME.EXT, else NAME(2).EXT, NAME(3).EXT …
QString freeName(const QDir &folder, const QString &base, const QString &suffix)
{
    for (int n = 1;; ++n) {
        const QString name =
            n == 1 ? base + suffix : QStringLiteral("%1(%2)%3").arg(base).arg(n).arg(suffix);
        const QString path = folder.filePath(name);
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            return path;
    }
}

qint64 monotonicMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

WatchOptions WatchOptions::fromSettings(const QuerySettings &settings)
{
    WatchOptions o;
    o.folder = settings.watchFolder;
    o.outputFolder = settings.watchOutputFolder;
    o.archive = settings.watchArchive;
    return o;
}

QString CheckedFile::summary() const
{
    return inUserLanguage(QStringLiteral("订单文件 %1 已检查：共 %2 个，高风险 %3 个"),
                          QStringLiteral("order file %1 checked: %2 buyers, %3 high risk"))
        .arg(QFileInfo(exportPath).fileName())
        .arg(buyers)
        .arg(highRisk.size());
}

OrderWatcher::OrderWatcher(LookupSession &session, QObject *parent)
    : QObject(parent), m_session(session), m_service(&session.service()),
      m_runner(new LookupRunner(m_service, this)), m_timer(new QTimer(this)),
      m_settings(session.settings())
{
    qRegisterMetaType<CheckedFile>();
    connect(&session, &LookupSession::settingsChanged, this,
            [this](const QuerySettings &settings) { m_settings = settings; });
    connect(m_timer, &QTimer::timeout, this, &OrderWatcher::poll);
}

OrderWatcher::~OrderWatcher()
{
    m_runner->cancel();
    m_runner->join();
}

QString OrderWatcher::tableNameFor(const QString &exportPath, const QString &outputFolder)
{
    const QFileInfo info(exportPath);
    const QDir folder(outputFolder.isEmpty() ? info.absolutePath() : outputFolder);
    return freeName(folder, info.completeBaseName() + kTableSuffix, QStringLiteral(".xlsx"));
}

bool OrderWatcher::isTableName(const QString &fileName)
{
    const QString base = QFileInfo(fileName).completeBaseName();
    return fileName.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive) &&
           (base.endsWith(kTableSuffix) || base.contains(kTableSuffix + u'('));
}

bool OrderWatcher::start(QString *error)
{
    const QFileInfo folder(m_options.folder);
    if (m_options.folder.isEmpty() || !folder.isDir()) {
        *error = m_options.folder.isEmpty()
                     ? inUserLanguage(QStringLiteral("没有设置监视的文件夹（[watch] folder）"),
                                      QStringLiteral("no folder to watch ([watch] folder)"))
                     : inUserLanguage(QStringLiteral("监视的文件夹不存在：%1"),
                                      QStringLiteral("the folder to watch is not there: %1"))
                           .arg(m_options.folder);
        return false;
    }
    if (!m_options.outputFolder.isEmpty() && !QFileInfo(m_options.outputFolder).isDir()) {
        *error = inUserLanguage(QStringLiteral("存放表格的文件夹不存在：%1"),
                                QStringLiteral("the folder for the tables is not there: %1"))
                     .arg(m_options.outputFolder);
        return false;
    }
    m_seen.clear();
    m_waiting.clear();
    // What is there already is the seller's old files, not new orders.
    poll();
    for (auto it = m_seen.begin(); it != m_seen.end(); ++it)
        it->handled = !m_cutShort.contains(it.key()); // a file cut short by stop() is new again
    m_cutShort.clear();
    m_timer->start(m_options.pollMs);
    return true;
}

void OrderWatcher::stop()
{
    m_timer->stop();
    m_cutShort = m_waiting;
    if (!m_current.isEmpty())
        m_cutShort.append(m_current);
    m_waiting.clear();
    m_runner->cancel();
    m_runner->join();
}

bool OrderWatcher::isWatching() const
{
    return m_timer->isActive();
}

bool OrderWatcher::isBusy() const
{
    return !m_current.isEmpty();
}

void OrderWatcher::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    emit pausedChanged(paused);
    if (!paused)
        takeNext();
}

void OrderWatcher::poll()
{
    const qint64 now = monotonicMs();
    const QDir folder(m_options.folder);
    const QFileInfoList files =
        folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
    QHash<QString, Seen> seen;
    for (const QFileInfo &file : files) {
        const QString path = file.absoluteFilePath();
        if (!isOrderFileName(file.fileName()) || isTableName(file.fileName()) ||
            m_tables.contains(path))
            continue;
        Seen s = m_seen.value(path);
        if (s.size != file.size() || s.modified != file.lastModified()) {
            // New or still growing: waited for until it holds still. A file that changed after
            // it failed is taken again.
            s.size = file.size();
            s.modified = file.lastModified();
            s.stableSinceMs = now;
            s.handled = false;
        } else if (!s.handled && now - s.stableSinceMs >= m_options.settleMs && path != m_current &&
                   !m_waiting.contains(path)) {
            m_waiting.append(path);
        }
        seen.insert(path, s);
    }
    m_seen = seen;
    takeNext();
}

void OrderWatcher::takeNext()
{
    // Another batch on the service (the window's) goes first: the poll tries again.
    if (m_paused || isBusy() || m_runner->isRunning() || m_waiting.isEmpty() ||
        m_service->batchesRunning() > 0)
        return;
    check(m_waiting.takeFirst());
}

void OrderWatcher::check(const QString &path)
{
    m_current = path;
    if (auto it = m_seen.find(path); it != m_seen.end())
        it->handled = true; // from now on it needs a change to be taken again
    BatchInputOptions input;
    input.maxIds = m_settings.batchMaxIds;
    input.encoding = m_settings.idFileEncoding;
    input.buyerColumn = m_settings.buyerColumn;
    input.orderFile = true;
    BatchInput orders = readBatchInput(path, input);
    if (!orders.ok())
        return fail(path, orders.error);
    if (orders.ids.isEmpty())
        return fail(path, inUserLanguage(QStringLiteral("订单文件中没有买家：%1"),
                                         QStringLiteral("no buyer in the order file %1"))
                              .arg(path));
    const QString table = tableNameFor(path, m_options.outputFolder);
    SellerDatabase *database = m_session.database();
    QString error;
    if (!checkBatchOutput(table, programFiles(database ? database->path() : QString(), {}, path),
                          &error))
        return fail(path, error);
    emit fileStarted(path, int(orders.ids.size()));
    BatchOptions options;
    options.jobs = m_settings.batchJobs;
    options.paceMs = m_settings.batchPaceMs;
    options.pacing = pacingFor(options);
    const QDateTime began = QDateTime::currentDateTime();
    LookupRunner::BatchProgress progress;
    progress.finished = [this](int, const LookupOutcome &outcome) {
        if (outcome.assessment.risk.level == RiskLevel::High)
            emit highRiskFound(outcome.result.record.buyerId.isEmpty()
                                   ? outcome.id
                                   : outcome.result.record.buyerId,
                               outcome.assessment.risk.reasons);
    };
    progress.paused = [this](int seconds, const QString &why) {
        emit marketplacePaused(seconds, why);
    };
    const QStringList ids = orders.ids;
    m_runner->batch(ids, options, std::move(progress),
                    [this, path, orders = std::move(orders), table,
                     began](const QList<LookupOutcome> &outcomes, bool cancelled) {
                        m_sinceLastBatch.start();
                        if (cancelled) { // stopped: the file stays for the next watch
                            m_current.clear();
                            return;
                        }
                        finish(path, orders, table, outcomes, began);
                    });
}

void OrderWatcher::finish(const QString &path, const BatchInput &input, QString table,
                          const QList<LookupOutcome> &outcomes, const QDateTime &began)
{
    // The name was free when the batch began; a file that took it meanwhile (the seller's, or
    // another watch's on the same folder) is never replaced.
    if (QFileInfo::exists(table) || QFileInfo(table).isSymLink())
        table = tableNameFor(path, m_options.outputFolder);
    CheckedFile file;
    file.exportPath = path;
    file.buyers = int(outcomes.size());
    file.leftOut = input.leftOut;
    SellerDatabase *database = m_session.database();
    file.staleFields = staleFieldsOfBatch(outcomes, database, began);
    if (!file.staleFields.isEmpty())
        file.staleText = staleRulesText(file.staleFields, configurationName(*m_service));

    QList<BatchRow> rows = batchRows(outcomes);
    addOrderColumns(&rows, input.buyers);
    for (const BatchRow &row : std::as_const(rows)) {
        if (row.risk == RiskLevel::High)
            file.highRisk.append({row.record.buyerId.isEmpty() ? row.id : row.record.buyerId,
                                  row.reasons, row.orderNumbers});
    }
    if (m_settings.sortByRisk)
        sortRowsByRisk(&rows);
    BatchTableOptions options;
    options.extraColumns = m_settings.extraColumns;
    options.risk = m_settings.risk;
    options.orderColumns = true;
    options.markRisk = options.summarySheet = true;
    if (!file.staleText.isEmpty())
        options.warnings = {file.staleText};
    QString error;
    QString savedTo;
    const QList<OwnFile> own = programFiles(database ? database->path() : QString(), {}, path);
    if (!writeBatchSpreadsheet(table, rows, &error, options, own, &savedTo)) {
        if (!savedTo.isEmpty())
            m_tables.append(savedTo);
        return fail(path, error);
    }
    m_tables.append(QFileInfo(table).absoluteFilePath());
    file.table = table;
    if (database && !file.highRisk.isEmpty() &&
        !database->queueForReview(reviewEntriesOf(rows, QFileInfo(path).fileName()), &file.queued))
        file.problem = database->problem();
    if (m_options.archive) {
        file.archivedTo = archive(path, &error);
        if (file.archivedTo.isEmpty())
            file.problem = error;
    }
    m_current.clear();
    emit fileChecked(file);
    takeNext();
}

std::shared_ptr<BatchPacing> OrderWatcher::pacingFor(const BatchOptions &options)
{
    const QString madeFor = QStringLiteral("%1 %2 %3")
                                .arg(options.jobs)
                                .arg(options.paceMs)
                                .arg(m_settings.blockedPauseSec);
    // After a quiet spell as long as the longest pause the marketplace has forgotten us too.
    const bool idle =
        m_sinceLastBatch.isValid() && m_sinceLastBatch.elapsed() > RequestPacer::kLongestPauseMs;
    if (!m_pacing || madeFor != m_pacingMadeFor || idle) {
        m_pacing = m_service->makePacing(options);
        m_pacingMadeFor = madeFor;
    }
    return m_pacing;
}

QString OrderWatcher::archive(const QString &path, QString *error) const
{
    const QFileInfo info(path);
    QDir folder(info.absolutePath());
    const QString done = QStringLiteral("done");
    if (!folder.exists(done) && !folder.mkdir(done)) {
        *error = inUserLanguage(QStringLiteral("无法创建文件夹 %1"),
                                QStringLiteral("cannot create the folder %1"))
                     .arg(folder.filePath(done));
        return {};
    }
    folder.cd(done);
    const QString suffix = info.suffix().isEmpty() ? QString() : u'.' + info.suffix();
    const QString target = freeName(folder, info.completeBaseName(), suffix);
    if (!QFile::rename(path, target)) {
        *error = inUserLanguage(QStringLiteral("无法把 %1 移入 %2"),
                                QStringLiteral("cannot move %1 into %2"))
                     .arg(path, folder.path());
        return {};
    }
    return target;
}

void OrderWatcher::fail(const QString &path, const QString &error)
{
    m_current.clear();
    emit fileFailed(path, error);
    takeNext();
}
