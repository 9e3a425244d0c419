#include "app/cli/clicommon.h"

#include "browser/hiddenbrowser.h"
#include "demosite/demosite.h"
#include "storage/historytext.h"
#include "web/pageresult.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>
#include <mutex>

namespace {

std::mutex g_outputMutex;
void writeTo(std::FILE *stream, const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

QString escapeControls(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != u'\n') || (u >= 0x7F && u <= 0x9F))
            out += QLatin1String("\\x") +
                   QString::number(uint(u), 16).toUpper().rightJustified(2, u'0');
        else
            out += c;
    }
    return out;
}

void printMessage(const QString &message)
{
    writeTo(stderr, (QLatin1String("brelvon-cli: ") + escapeControls(message) + u'\n').toUtf8());
}

void printLine(const QString &line)
{
    writeTo(stdout, (line + u'\n').toUtf8());
}

void printPage(const QString &buyerId, const PageResult &page)
{
    printMessage(QStringLiteral("page %1: %2").arg(buyerId, page.summary()));
}

void printCachedConfiguration(const QString &buyerId, const LookupOutcome &outcome)
{
    const auto &cached = outcome.cachedConfiguration;
    if (!cached)
        return;
    printMessage(QStringLiteral("configuration %1: cached %2 (our site gave none; using the copy "
                                "saved %3 from %4)")
                     .arg(buyerId, cached->ageName(QDateTime::currentDateTimeUtc()),
                          cached->saved.toUTC().toString(Qt::ISODate), cached->address));
}

SubcommandLine::SubcommandLine(const QString &synopsis, const QString &description)
    : m_synopsis(synopsis), m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                   QStringLiteral("Show this help."))
{
    m_parser.setApplicationDescription(description);
}

QueryCommandLine::QueryCommandLine(const QString &synopsis, const QString &description)
    : SubcommandLine(synopsis, description),
      m_settings(QStringLiteral("settings"),
                 QStringLiteral("The settings file naming the hosts (default: %1).")
                     .arg(defaultSettingsPath()),
                 QStringLiteral("FILE")),
      m_demo(QStringLiteral("demo"),
             QStringLiteral("Query the bundled demo site, started in this process.")),
      m_browser(QStringLiteral("browser"),
                QStringLiteral("Read a detail page that the plain fetch cannot with the embedded "
                               "browser (offscreen).")),
      m_verbose(QStringLiteral("verbose"),
                QStringLiteral("One line per page fetch on stderr: outcome, HTTP status, bytes, "
                               "milliseconds, address.")),
      m_parallel(QStringLiteral("parallel-pages"),
                 QStringLiteral("Fetch a buyer's three chains of pages at once.")),
      m_database(databaseOption()),
      m_noHistory(QStringLiteral("no-history"),
                  QStringLiteral("Do not record these lookups (notes and the blacklist still "
                                 "apply).")),
      m_config(QStringLiteral("config"),
               QStringLiteral("Use the query configuration in FILE instead of downloading it "
                              "(default: the settings' [query] configFile)."),
               QStringLiteral("FILE")),
      m_areaTable(QStringLiteral("area-table"),
                  QStringLiteral("Use the area table in FILE instead of downloading it (default: "
                                 "the settings' [query] areaTableFile)."),
                  QStringLiteral("FILE"))
{
    parser().addOptions({m_settings, m_demo, m_browser, m_parallel, m_verbose, m_database,
                         m_noHistory, m_config, m_areaTable});
    addHelpOption();
}

QString parserError(const QCommandLineParser &parser)
{
    QString message = parser.errorText();
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        message = QStringLiteral("unknown option %1%2")
                      .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    } else if (message.startsWith(QLatin1String("Missing value after '"))) {
        const QString name = message.section(u'\'', 1, 1);
        message = QStringLiteral("%1 needs a %2")
                      .arg(name, name.contains(QLatin1String("settings")) ||
                                         name.contains(QLatin1String("xlsx")) ||
                                         name.contains(QLatin1String("database")) ||
                                         name.contains(QLatin1String("config")) ||
                                         name.contains(QLatin1String("area-table"))
                                     ? QStringLiteral("file name")
                                     : QStringLiteral("value"));
    }
    return message;
}

int SubcommandLine::usage(const QString &message)
{
    printMessage(message);
    printMessage(QLatin1String("usage: brelvon-cli ") + m_synopsis);
    return CliUsage;
}

bool SubcommandLine::parse(const QStringList &args, int *exitCode)
{
    if (!m_parser.parse(QStringList{QStringLiteral("brelvon-cli")} + args)) {
        *exitCode = usage(parserError(m_parser));
        return false;
    }
    if (m_parser.isSet(m_help)) {
        // QCommandLineParser's own first line names the program's path; ours names the command.
        const QString help = QLatin1String("usage: brelvon-cli ") + m_synopsis + u'\n' +
                             m_parser.helpText().section(u'\n', 1);
        std::fputs(help.toUtf8().constData(), stdout);
        *exitCode = CliOk;
        return false;
    }
    return true;
}

bool QueryCommandLine::parse(const QStringList &args, QueryOptions *options, int *exitCode)
{
    if (!SubcommandLine::parse(args, exitCode))
        return false;
    if (!singleValue(m_settings, QStringLiteral("a file name"), &options->settingsPath, exitCode))
        return false;
    if (!singleValue(m_database, QStringLiteral("a file name"), &options->databasePath, exitCode))
        return false;
    if (!singleValue(m_config, QStringLiteral("a file name"), &options->configPath, exitCode) ||
        !singleValue(m_areaTable, QStringLiteral("a file name"), &options->areaTablePath, exitCode))
        return false;
    options->noHistory = parser().isSet(m_noHistory);
    options->demo = parser().isSet(m_demo);
    options->browser = parser().isSet(m_browser);
    options->verbose = parser().isSet(m_verbose);
    options->parallelPages = parser().isSet(m_parallel);
    options->operands = parser().positionalArguments();
    if (options->demo && !options->settingsPath.isEmpty()) {
        *exitCode = usage(QStringLiteral("--demo and --settings cannot be used together"));
        return false;
    }
    return true;
}

bool SubcommandLine::singleValue(const QCommandLineOption &option, const QString &what,
                                 QString *value, int *exitCode)
{
    const QString name = QLatin1String("--") + option.names().constLast();
    const QStringList values = m_parser.values(option);
    if (values.size() > 1) {
        *exitCode = usage(QStringLiteral("%1 given twice").arg(name));
        return false;
    }
    if (values.size() == 1 && values.constFirst().isEmpty()) {
        *exitCode = usage(QStringLiteral("%1 needs %2").arg(name, what));
        return false;
    }
    *value = values.value(0);
    return true;
}

QueryRun::QueryRun() = default;
QueryRun::~QueryRun() = default;

int loadQueryProfile(const QueryOptions &options, QueryRun *run)
{
    ProfileOptions asked;
    if (options.demo) {
        run->site = std::make_unique<DemoSite>();
        if (run->site->start())
            asked.demoHost = run->site->hostPort();
    }
    asked.settingsPath = options.settingsPath;
    asked.demo = options.demo;
    asked.databasePath = options.databasePath;
    asked.noHistory = options.noHistory;
    asked.parallelPages = options.parallelPages;
    asked.browser = options.browser;
    const ProfileLoad load = loadProfile(asked, &run->profile);
    switch (load.result) {
    case ProfileLoad::Result::Ok:
        break;
    case ProfileLoad::Result::DemoSiteFailed:
        printMessage(QStringLiteral("the bundled demo site could not be started"));
        return CliFailed;
    case ProfileLoad::Result::SettingsUnreadable:
        printMessage(load.error);
        return CliUsage;
    case ProfileLoad::Result::TemplateWritten:
        printMessage(QStringLiteral("no settings yet: wrote a template to %1; fill in the hosts "
                                    "there and run again, or use --demo")
                         .arg(load.path));
        return CliUsage;
    case ProfileLoad::Result::NoSettings: // the command line always leaves a template
    case ProfileLoad::Result::TemplateFailed:
        printMessage(QStringLiteral("no settings yet: create %1 (%2), or use --demo")
                         .arg(load.path, load.error));
        return CliUsage;
    }
    if (!load.problems.isEmpty()) {
        for (const QString &problem : load.problems)
            printMessage(QString(problem)
                             .remove(QLatin1String("; using the default"))
                             .remove(QStringLiteral("，改用默认值")));
        return CliUsage;
    }
    return CliOk;
}

int startQueryRun(const QueryOptions &options, int jobs, QueryRun *run)
{
    if (options.browser) {
        QString why;
        if (!HiddenBrowser::checkAvailable(&why)) {
            printMessage(QStringLiteral("--browser: %1").arg(why));
            return HiddenBrowser::isBuiltIn() ? CliFailed : CliUsage;
        }
    }
    LocalSetup local;
    QString why;
    if (!loadLocalSetup(options.configPath, options.areaTablePath, run->profile.settingsPath,
                        &local, &why)) {
        printMessage(why);
        return CliUsage;
    }
    const StorageSettings &storage = run->profile.storage;
    LookupSession::Options session;
    session.jobs = jobs;
    // Without history a missing file is not made.
    session.database = storage.history ? LookupSession::Options::Database::CreateIfMissing
                                       : LookupSession::Options::Database::ExistingOnly;
    session.browser = options.browser;
    session.keepConfiguration = true;
    run->session = std::make_unique<LookupSession>(run->profile, session);
    run->session->setLocalSetup(local);
    const SellerDatabase &database = *run->session->database();
    // Without history, a read-only file is just as good.
    if (storage.history || database.state() != SellerDatabase::State::ReadOnly)
        tellStorageProblem(database.problem());
    return CliOk;
}

int prepareQueryRun(const QueryOptions &options, int jobs, QueryRun *run)
{
    if (const int code = loadQueryProfile(options, run); code != CliOk)
        return code;
    return startQueryRun(options, jobs, run);
}

int runUntilDone(LookupRunner &runner, const std::function<void()> &start)
{
    bool wasInterrupted = false;
    QTimer watch; // Ctrl-C cancels the work; its waits end within a tenth of a second
    QObject::connect(&watch, &QTimer::timeout, &runner, [&] {
        if (interrupted() && !wasInterrupted) {
            wasInterrupted = true;
            runner.cancel();
        }
    });
    watch.start(50);
    // From here on the command ends by itself: what it writes after the lookups (the table) is
    // finished rather than left half done.
    watchInterrupts();
    start();
    QCoreApplication::exec();
    runner.join();
    return wasInterrupted ? CliInterrupted : CliOk;
}

int runUntilInterrupted(const std::function<void()> &stop)
{
    QTimer watch;
    bool stopped = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (interrupted() && !stopped) {
            stopped = true;
            stop();
            QCoreApplication::exit(CliInterrupted);
        }
    });
    watch.start(50);
    watchInterrupts();
    const int code = QCoreApplication::exec();
    return stopped ? CliInterrupted : code;
}

void tellStorageProblem(const QString &problem)
{
    static QString told; // on the main thread only
    if (problem.isEmpty() || problem == told)
        return;
    told = problem;
    printMessage(problem);
}

void tellAfterLookup(const LookupOutcome &outcome)
{
    const BuyerNote &note = outcome.note;
    if (note.listed == ListMark::Blacklist)
        printMessage(
            QStringLiteral("warning: %1 is on the blacklist%2")
                .arg(outcome.result.record.buyerId,
                     note.reason.isEmpty() ? QString() : QStringLiteral(": ") + note.reason));
    tellStorageProblem(outcome.storageProblem);
}

QCommandLineOption databaseOption()
{
    return QCommandLineOption(
        QStringLiteral("database"),
        QStringLiteral("The database of lookup history, notes and blacklist (default: the "
                       "settings' [storage] database, else %1).")
            .arg(defaultDatabasePath()),
        QStringLiteral("FILE"));
}
