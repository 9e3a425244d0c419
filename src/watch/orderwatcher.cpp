#include "watch/orderwatcher.h"

#include "engine/batchengine.h"
#include "files/lockfile.h"
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
// The bytes of an export's name kept in its table's name.
constexpr qsizetype kMaxBaseBytes = 200;
// Held beside the watched folder (.NAME.brelvon-watch.lock) while a watcher runs on it.
const QString kLockFileSuffix = QStringLiteral(".brelvon-watch.lock");

// A name in folder that no file has: NAME.EXT, else NAME(2).EXT, NAME(3).EXT …
QString freeName(const QDir &folder, const QString &base, const QString &suffix)
{
    for (int n = 1;; ++n) {
        const QString name = n == 1
                                 ? base + suffix
                                 : QStringLiteral("%1(%2)%3").arg(base, QString::number(n), suffix);
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

QString CheckedFile::summary(const QString &shownName) const
{
    // One arg() call: a "%2" in the name stays in the name.
    return inUserLanguage(QStringLiteral("订单文件 %1 已检查：共 %2 个，高风险 %3 个"),
                          QStringLiteral("order file %1 checked: %2 buyers, %3 high risk"))
        .arg(shownName, QString::number(buyers), QString::number(highRisk.size()));
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
    // A long export name leaves no room for the suffix, a number and the writer's partial name
    // within the 255 bytes a file name may have: it is cut.
    QString base = info.completeBaseName();
    if (QFile::encodeName(base).size() > kMaxBaseBytes) {
        while (!base.isEmpty() && QFile::encodeName(base).size() > kMaxBaseBytes - 3)
            base.chop(base.size() > 1 && base.at(base.size() - 2).isHighSurrogate() ? 2 : 1);
        base += u'…';
    }
    return freeName(folder, base + kTableSuffix, QStringLiteral(".xlsx"));
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
    // One watcher per folder: a second would check every export again and race the first's moves.
    // The lock file stands beside the folder, so it holds while the folder is gone; inside it
    // where its parent takes no file of ours.
    const QFileInfo watched(QDir::cleanPath(QDir(m_options.folder).absolutePath()));
    std::unique_ptr<LockFile> lock;
    QString holder;
    bool held = false;
    if (!watched.fileName().isEmpty()) {
        lock = std::make_unique<LockFile>(watched.absolutePath() + QStringLiteral("/.") +
                                          watched.fileName() + kLockFileSuffix);
        if (!lock->tryLock(&holder, &held) && !held)
            lock.reset();
    }
    if (!lock) {
        lock = std::make_unique<LockFile>(QDir(m_options.folder).filePath(kLockFileSuffix));
        lock->tryLock(&holder, &held);
    }
    if (!lock->isLocked()) {
        *error = held
                     ? inUserLanguage(QStringLiteral("另一个监视进程已在监视这个文件夹：%1"),
                                      QStringLiteral("another watcher is watching this folder: %1"))
                           .arg(holder)
                     : holder;
        return false;
    }
    m_waiting.clear();
    // What is there already is the seller's old files, not new orders.
    if (!m_folder.open(m_options.folder, m_options.all, error))
        return false;
    m_lock = std::move(lock);
    m_folderAvailable = true;
    for (const QString &path : std::as_const(m_cutShort))
        m_folder.takeAgain(QFileInfo(path).fileName()); // a file cut short by stop() is new again
    m_cutShort.clear();
    m_timer->start(m_options.pollMs);
    return true;
}

void OrderWatcher::stop()
{
    ++m_generation;
    m_timer->stop();
    m_cutShort = m_waiting;
    if (!m_current.isEmpty())
        m_cutShort.append(m_current);
    m_waiting.clear();
    m_runner->cancel();
    m_runner->join();
    m_folder.close();
    m_lock.reset();
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
    const WatchedFolder::Look look =
        m_folder.look(monotonicMs(), m_options.settleMs, [this](const QString &name) {
            return isOrderFileName(name) && !isTableName(name) &&
                   !m_tables.contains(m_folder.filePath(name));
        });
    if (!look.change.isEmpty()) {
        m_folderAvailable = look.available;
        if (!look.available)
            m_waiting.clear(); // files of a folder that is no longer the watched one
        emit folderChanged(look.available, look.change);
    }
    for (const QString &name : look.ready) {
        const QString path = m_folder.filePath(name);
        if (path != m_current && !m_waiting.contains(path))
            m_waiting.append(path);
    }
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
    const QString name = QFileInfo(path).fileName();
    m_folder.setHandled(name); // from now on it needs a change to be taken again
    BatchInputOptions input;
    input.maxIds = m_settings.batchMaxIds;
    input.encoding = m_settings.idFileEncoding;
    input.buyerColumn = m_settings.buyerColumn;
    input.orderFile = true;
    // Read from one opened file, inside the folder, never through a link: a refused file is named
    // with the reason, never with what it leads to.
    QFile opened;
    FileStamp stamp;
    QString reason;
    if (!m_folder.openExport(name, &opened, &stamp, &reason))
        return fail(path, reason);
    BatchInput orders = readOrderExport(&opened, path, input);
    m_currentStamp = stamp;
    m_currentReadAtMs = monotonicMs();
    if (InputFolder::stampOf(opened) != stamp) { // still being written: waited for again
        m_folder.takeAgain(name);
        m_current.clear();
        return takeNext();
    }
    opened.close();
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
    conclude(file);
}

void OrderWatcher::conclude(CheckedFile file)
{
    const QString name = QFileInfo(file.exportPath).fileName();
    // A writer that paused for longer than the settle time may go on after the check: the file
    // must also hold still for the settle time after it was read before it is archived.
    const qint64 waitMs = m_currentReadAtMs + m_options.settleMs - monotonicMs();
    if (waitMs > 0 && m_folder.unchangedSince(name, m_currentStamp)) {
        QTimer::singleShot(waitMs, this, [this, file, generation = m_generation] {
            if (generation == m_generation) // not stopped meanwhile
                conclude(file);
        });
        return;
    }
    if (!m_folder.unchangedSince(name, m_currentStamp)) {
        // Replaced or written on while it was checked: what came later was never looked up, so
        // it is checked again (once it holds still) rather than archived.
        m_folder.takeAgain(name);
        file.problem = inUserLanguage(QStringLiteral("%1 在检查期间被修改，将再检查一次"),
                                      QStringLiteral("%1 changed while it was checked; it will be "
                                                     "checked again"))
                           .arg(name);
    } else if (m_options.archive) {
        bool newReason = false;
        QString error;
        if (!m_folder.archive(name, &file.archivedTo, &error, &newReason) && newReason)
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

void OrderWatcher::fail(const QString &path, const QString &error)
{
    m_current.clear();
    emit fileFailed(path, error);
    takeNext();
}
