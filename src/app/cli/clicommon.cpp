#include "app/cli/clicommon.h"

#include "browser/hiddenbrowser.h"
#include "demosite/demosite.h"
#include "model/lookupstatus.h"
#include "model/uilanguage.h"
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

void printMessage(const QString &message)
{
    writeTo(stderr, (QLatin1String("brelvon-cli: ") + escapeControls(message) + u'\n').toUtf8());
}

void printLine(const QString &line)
{
    writeTo(stdout, (escapeControls(line) + u'\n').toUtf8());
}

QString numberOrDash(qint64 number, bool known)
{
    return known ? QString::number(number) : QStringLiteral("—");
}

void printPage(const QString &buyerId, const PageResult &page)
{
    // A page without an HTTP answer has no status: "—", not 0.
    const QString status = numberOrDash(page.status, page.status > 0);
    if (englishMessages()) {
        printMessage(QStringLiteral("page %1: %2 status=%3 bytes=%4 ms=%5 %6")
                         .arg(buyerId,
                              page.browser ? QLatin1String("browser ") + page.outcomeText()
                                           : page.outcomeText(),
                              status, QString::number(page.bytes), QString::number(page.elapsedMs),
                              page.address));
        return;
    }
    QString outcome = pageOutcomeWord(page.outcome);
    if (!page.error.isEmpty() && page.outcome != PageOutcome::Ok)
        outcome += u'（' + page.error + u'）';
    printMessage(QStringLiteral("页面 %1：%2%3，状态 %4，%5 字节，%6 毫秒，%7")
                     .arg(buyerId, page.browser ? QStringLiteral("内置浏览器 ") : QString(),
                          outcome, status, QString::number(page.bytes),
                          QString::number(page.elapsedMs), page.address));
}

void printCachedConfiguration(const QString &buyerId, const LookupOutcome &outcome)
{
    const auto &cached = outcome.cachedConfiguration;
    if (!cached)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    printMessage(
        inUserLanguage(QStringLiteral("查询配置 %1：使用%2前保存的副本（我们的网站没有给出；"
                                      "%3 取自 %4）"),
                       QStringLiteral("configuration %1: cached %2 (our site gave none; "
                                      "using the copy saved %3 from %4)"))
            .arg(buyerId, englishMessages() ? cached->ageName(now) : cached->ageText(now),
                 cached->saved.toUTC().toString(Qt::ISODate), cached->address));
}

SubcommandLine::SubcommandLine(const QString &synopsis, const QString &description)
    : m_synopsis(synopsis),
      m_help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
             inUserLanguage(QStringLiteral("显示本帮助。"), QStringLiteral("Show this help.")))
{
    m_parser.setApplicationDescription(description);
}

QueryCommandLine::QueryCommandLine(const QString &synopsis, const QString &description)
    : SubcommandLine(synopsis, description), m_settings(settingsOption()),
      m_demo(QStringLiteral("demo"),
             inUserLanguage(QStringLiteral("查询随程序附带的演示网站（在本进程中启动）。"),
                            QStringLiteral("Query the bundled demo site, started in this "
                                           "process."))),
      m_browser(QStringLiteral("browser"),
                inUserLanguage(QStringLiteral("普通读取读不到的信用页，由内置浏览器（不显示窗口）"
                                              "读取。"),
                               QStringLiteral("Read a detail page that the plain fetch cannot with "
                                              "the embedded browser (offscreen)."))),
      m_verbose(QStringLiteral("verbose"),
                inUserLanguage(QStringLiteral("每读一个页面在标准错误上写一行：结果、HTTP 状态、"
                                              "字节数、毫秒数、地址。"),
                               QStringLiteral("One line per page fetch on stderr: outcome, HTTP "
                                              "status, bytes, milliseconds, address."))),
      m_parallel(QStringLiteral("parallel-pages"),
                 inUserLanguage(QStringLiteral("同时读取一个买家的三组页面。"),
                                QStringLiteral("Fetch a buyer's three chains of pages at once."))),
      m_database(databaseOption()),
      m_noHistory(QStringLiteral("no-history"),
                  inUserLanguage(QStringLiteral("不记录这些查询（备注和黑名单照常生效）。"),
                                 QStringLiteral("Do not record these lookups (notes and the "
                                                "blacklist still apply)."))),
      m_config(QStringLiteral("config"),
               inUserLanguage(QStringLiteral("使用 FILE 中的查询配置，不下载（默认：设置的 [query] "
                                             "configFile）。"),
                              QStringLiteral("Use the query configuration in FILE instead of "
                                             "downloading it (default: the settings' [query] "
                                             "configFile).")),
               QStringLiteral("FILE")),
      m_areaTable(
          QStringLiteral("area-table"),
          inUserLanguage(QStringLiteral("使用 FILE 中的地区表，不下载（默认：设置的 [query] "
                                        "areaTableFile）。"),
                         QStringLiteral("Use the area table in FILE instead of downloading "
                                        "it (default: the settings' [query] "
                                        "areaTableFile).")),
          QStringLiteral("FILE"))
{
    parser().addOptions({m_settings, m_demo, m_browser, m_parallel, m_verbose, m_database,
                         m_noHistory, m_config, m_areaTable});
    addHelpOption();
}

QString parserError(const QCommandLineParser &parser)
{
    // QCommandLineParser words its errors in English; ours follow the user's language.
    const QString message = parser.errorText();
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        return inUserLanguage(QStringLiteral("未知选项 %1%2"),
                              QStringLiteral("unknown option %1%2"))
            .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    }
    const QString name = message.section(u'\'', 1, 1);
    if (message.startsWith(QLatin1String("Missing value after '"))) {
        const bool file =
            name.contains(QLatin1String("settings")) || name.contains(QLatin1String("xlsx")) ||
            name.contains(QLatin1String("csv")) || name.contains(QLatin1String("database")) ||
            name.contains(QLatin1String("config")) || name.contains(QLatin1String("area-table"));
        return file ? inUserLanguage(QStringLiteral("%1 后面要有文件名"),
                                     QStringLiteral("%1 needs a file name"))
                          .arg(name)
                    : inUserLanguage(QStringLiteral("%1 后面要有值"),
                                     QStringLiteral("%1 needs a value"))
                          .arg(name);
    }
    if (message.startsWith(QLatin1String("Unexpected value after '")))
        return inUserLanguage(QStringLiteral("%1 不带值"), QStringLiteral("%1 takes no value"))
            .arg(name.section(u'=', 0, 0));
    return message;
}

QString usageLine(const QString &synopsis)
{
    return inUserLanguage(QStringLiteral("用法："), QStringLiteral("usage: ")) +
           QLatin1String("brelvon-cli ") + synopsis;
}

int SubcommandLine::usage(const QString &message)
{
    printMessage(message);
    printMessage(usageLine(m_synopsis));
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
        QString help = usageLine(m_synopsis) + u'\n' + m_parser.helpText().section(u'\n', 1);
        if (!englishMessages())
            help.replace(QLatin1String("\nOptions:\n"), QStringLiteral("\n选项：\n"))
                .replace(QLatin1String("\nArguments:\n"), QStringLiteral("\n参数：\n"));
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
    if (!singleValue(m_settings, fileNameWord(), &options->settingsPath, exitCode) ||
        !singleValue(m_database, fileNameWord(), &options->databasePath, exitCode) ||
        !singleValue(m_config, fileNameWord(), &options->configPath, exitCode) ||
        !singleValue(m_areaTable, fileNameWord(), &options->areaTablePath, exitCode))
        return false;
    options->noHistory = parser().isSet(m_noHistory);
    options->demo = parser().isSet(m_demo);
    options->browser = parser().isSet(m_browser);
    options->verbose = parser().isSet(m_verbose);
    options->parallelPages = parser().isSet(m_parallel);
    options->operands = parser().positionalArguments();
    if (options->demo && !options->settingsPath.isEmpty()) {
        *exitCode = usage(inUserLanguage(QStringLiteral("--demo 和 --settings 不能同时使用"),
                                         QStringLiteral("--demo and --settings cannot be used "
                                                        "together")));
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
        *exitCode =
            usage(inUserLanguage(QStringLiteral("%1 给了两次"), QStringLiteral("%1 given twice"))
                      .arg(name));
        return false;
    }
    if (values.size() == 1 && values.constFirst().isEmpty()) {
        *exitCode =
            usage(inUserLanguage(QStringLiteral("%1 后面要有%2"), QStringLiteral("%1 needs %2"))
                      .arg(name, what));
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
        printMessage(inUserLanguage(QStringLiteral("无法启动随程序附带的演示网站"),
                                    QStringLiteral("the bundled demo site could not be started")));
        return CliFailed;
    case ProfileLoad::Result::SettingsUnreadable:
        printMessage(load.error);
        return CliUsage;
    case ProfileLoad::Result::TemplateWritten:
        printMessage(
            inUserLanguage(QStringLiteral("还没有设置：已在 %1 写好模板，请在其中填好主机后"
                                          "再运行，或使用 --demo"),
                           QStringLiteral("no settings yet: wrote a template to %1; fill "
                                          "in the hosts there and run again, or use "
                                          "--demo"))
                .arg(load.path));
        return CliUsage;
    case ProfileLoad::Result::NoSettings: // the command line always leaves a template
    case ProfileLoad::Result::TemplateFailed:
        printMessage(inUserLanguage(QStringLiteral("还没有设置：请创建 %1（%2），或使用 --demo"),
                                    QStringLiteral("no settings yet: create %1 (%2), or use "
                                                   "--demo"))
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
    session.keepPace = true;
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
        printMessage(inUserLanguage(QStringLiteral("注意：%1 在黑名单上%2"),
                                    QStringLiteral("warning: %1 is on the blacklist%2"))
                         .arg(outcome.result.record.buyerId,
                              note.reason.isEmpty()
                                  ? QString()
                                  : inUserLanguage(QStringLiteral("："), QStringLiteral(": ")) +
                                        note.reason));
    tellStorageProblem(outcome.storageProblem);
}

QCommandLineOption databaseOption()
{
    return QCommandLineOption(
        QStringLiteral("database"),
        inUserLanguage(QStringLiteral("查询历史、备注和黑名单所在的数据库（默认：设置的 [storage] "
                                      "database，否则 %1）。"),
                       QStringLiteral("The database of lookup history, notes and blacklist "
                                      "(default: the settings' [storage] database, else %1)."))
            .arg(defaultDatabasePath()),
        QStringLiteral("FILE"));
}

QCommandLineOption settingsOption(const QString &zh, const QString &en)
{
    return QCommandLineOption(QStringLiteral("settings"),
                              (zh.isEmpty() ? inUserLanguage(QStringLiteral("指明各主机的设置文件"
                                                                            "（默认：%1）。"),
                                                             QStringLiteral("The settings file "
                                                                            "naming the hosts "
                                                                            "(default: %1)."))
                                            : inUserLanguage(zh, en))
                                  .arg(defaultSettingsPath()),
                              QStringLiteral("FILE"));
}

QString fileNameWord()
{
    return inUserLanguage(QStringLiteral("文件名"), QStringLiteral("a file name"));
}
