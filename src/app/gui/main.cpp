// brelvon [--settings FILE] [--demo] [--skin FILE] [--database FILE] [--no-history] [--config FILE]
// [--area-table FILE]: the main window, against the hosts of a settings file or against the
// bundled demo site served in this process.

#include "browser/hiddenbrowser.h"
#include "demosite/demosite.h"
#include "files/spreadsheetexport.h"
#include "lookup/localsetup.h"
#include "lookup/lookupsession.h"
#include "lookup/profile.h"
#include "mainwindow/deskwatch.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/settingsdialog.h"
#include "mainwindow/translations.h"
#include "model/defaultfolders.h"
#include "storage/sellerdatabase.h"

#include "model/uilanguage.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>

namespace {

void tell(QMessageBox::Icon icon, const QString &text)
{
    std::fprintf(stderr, "brelvon: %s\n", qPrintable(text));
    QMessageBox box(icon, MainWindow::programTitle(), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// Why the seller's database cannot record lookups, for the user; empty when it can (or when
// nothing is to be recorded and it can still be read).
QString databaseProblem(const SellerDatabase &database, bool history)
{
    switch (database.state()) {
    case SellerDatabase::State::Ready:
    case SellerDatabase::State::Closed:
        return {};
    case SellerDatabase::State::ReadOnly:
        if (!history)
            return {};
        return QStringLiteral(
                   "查询历史数据库是只读的，本次不记录查询：\n%1\n备注和黑名单照常可用。")
            .arg(QDir::toNativeSeparators(database.path()));
    case SellerDatabase::State::Off:
        break;
    }
    if (!database.movedAside().isEmpty())
        return QStringLiteral("查询历史数据库已损坏，已改名保存为：\n%1\n本次不记录查询历史，"
                              "下次启动时新建数据库。")
            .arg(QDir::toNativeSeparators(database.movedAside()));
    return QStringLiteral("查询历史已关闭，无法使用数据库：\n%1\n\n%2")
        .arg(QDir::toNativeSeparators(database.path()), database.problem());
}

// The window's command line.
struct GuiOptions
{
    QCommandLineOption version{QStringList{QStringLiteral("v"), QStringLiteral("version")},
                               inUserLanguage(QStringLiteral("显示版本和内置浏览器。"),
                                              QStringLiteral("Display version information, and "
                                                             "the embedded browser."))};
    QCommandLineOption settings{
        QStringLiteral("settings"),
        inUserLanguage(QStringLiteral("从 FILE 读取主机和查看用的登录名（默认：%1）。"),
                       QStringLiteral("Read hosts and viewer logins from FILE (default: %1)."))
            .arg(defaultSettingsPath()),
        QStringLiteral("FILE")};
    QCommandLineOption demo{QStringLiteral("demo"),
                            inUserLanguage(QStringLiteral("查询随程序附带的演示网站（在本进程中"
                                                          "运行）。"),
                                           QStringLiteral("Query the bundled demo site, served "
                                                          "in-process."))};
    QCommandLineOption skin{QStringLiteral("skin"),
                            inUserLanguage(QStringLiteral("使用 FILE 中的皮肤（默认：程序旁的 "
                                                          "skin.jss）。"),
                                           QStringLiteral("Wear the skin in FILE (default: "
                                                          "skin.jss beside the program).")),
                            QStringLiteral("FILE")};
    QCommandLineOption database{
        QStringLiteral("database"),
        inUserLanguage(QStringLiteral("把查询历史、备注和黑名单存在 FILE 中（默认：设置的 "
                                      "[storage] database，否则 %1）。"),
                       QStringLiteral("Keep lookup history, notes and blacklist in FILE "
                                      "(default: the settings' [storage] database, else %1)."))
            .arg(defaultDatabasePath()),
        QStringLiteral("FILE")};
    QCommandLineOption noHistory{
        QStringLiteral("no-history"),
        inUserLanguage(QStringLiteral("不记录查询（备注和黑名单照常生效）。"),
                       QStringLiteral("Do not record lookups (notes and the blacklist still "
                                      "apply)."))};
    QCommandLineOption config{
        QStringLiteral("config"),
        inUserLanguage(QStringLiteral("使用 FILE 中的查询配置，不下载（默认：设置的 [query] "
                                      "configFile）。"),
                       QStringLiteral("Use the query configuration in FILE instead of "
                                      "downloading it (default: the settings' [query] "
                                      "configFile).")),
        QStringLiteral("FILE")};
    QCommandLineOption areaTable{
        QStringLiteral("area-table"),
        inUserLanguage(QStringLiteral("使用 FILE 中的地区表，不下载（默认：设置的 [query] "
                                      "areaTableFile）。"),
                       QStringLiteral("Use the area table in FILE instead of downloading it "
                                      "(default: the settings' [query] areaTableFile).")),
        QStringLiteral("FILE")};
    QCommandLineOption hidden{
        QStringLiteral("hidden"),
        inUserLanguage(QStringLiteral("启动到托盘，不显示窗口（桌面有托盘时；登录时启动用它）。"),
                       QStringLiteral("Start in the tray, the window hidden (where the desktop "
                                      "has a tray; the autostart entry uses it)."))};

    // Processes the arguments of app: --help and a mistaken option end the program there.
    void process(QCommandLineParser *parser, const QCoreApplication &app) const
    {
        parser->setApplicationDescription(
            inUserLanguage(QStringLiteral("查询淘宝买家的信用情况。"),
                           QStringLiteral("Looks up the credit details of Taobao buyers.")));
        parser->addHelpOption();
        // Our own --version: it also says which embedded browser this build carries.
        parser->addOption(version);
        parser->addOptions({settings, demo, skin, database, noHistory, config, areaTable, hidden});
        parser->process(app);
    }
};

void nameProgram()
{
    QCoreApplication::setApplicationName(QStringLiteral("brelvon"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRELVON_VERSION));
}

int printVersion()
{
    std::printf("brelvon %s\n%s\n", BRELVON_VERSION, qPrintable(HiddenBrowser::versionText()));
    return 0;
}

// Whether the arguments ask for help or the version, which need no display.
bool onlyText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--")
            break;
        if (arg == "-h" || arg == "--help" || arg == "-?" || arg == "--help-all" || arg == "-v" ||
            arg == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (onlyText(argc, argv)) {
        // Answered before any window system is touched, so it works over ssh and in scripts.
        QCoreApplication app(argc, argv);
        nameProgram();
        // Qt's own words of the help (Usage, Options) in the user's language too.
        installQtTranslations(&app);
        const GuiOptions options;
        QCommandLineParser parser;
        options.process(&parser, app);
        if (parser.isSet(options.version))
            return printVersion();
    }
    QApplication app(argc, argv);
    nameProgram();
    // Qt's own buttons and dialogs speak the seller's language (Chinese unless LANG=en*).
    installQtTranslations(&app);
    // Ties the windows to the installed desktop entry (its icon on Wayland).
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.brelvon.Brelvon"));

    const GuiOptions options;
    QCommandLineParser parser;
    options.process(&parser, app);
    if (parser.isSet(options.version))
        return printVersion();
    const QCommandLineOption &settingsOption = options.settings;
    const QCommandLineOption &demoOption = options.demo;
    const QCommandLineOption &skinOption = options.skin;
    const QCommandLineOption &databaseOption = options.database;
    const QCommandLineOption &noHistoryOption = options.noHistory;

    if (!parser.positionalArguments().isEmpty()) {
        tell(QMessageBox::Critical,
             QStringLiteral(
                 "不认识的参数: %1\n用法: brelvon [--settings FILE] [--demo] [--skin "
                 "FILE] [--database FILE] [--no-history] [--config FILE] [--area-table FILE]")
                 .arg(parser.positionalArguments().join(QLatin1Char(' '))));
        return 2;
    }
    if (parser.isSet(settingsOption) && parser.isSet(demoOption)) {
        tell(QMessageBox::Critical, QStringLiteral("--settings 和 --demo 不能同时使用。"));
        return 2;
    }

    if (parser.isSet(skinOption)) {
        const QString skin = parser.value(skinOption);
        if (!QFileInfo(skin).isFile()) {
            tell(QMessageBox::Critical, QStringLiteral("找不到皮肤文件: %1").arg(skin));
            return 2;
        }
        MainWindow::setSkinFile(QFileInfo(skin).absoluteFilePath());
    }

    // The bundled demo site, served in this process: with --demo from the start, else when the
    // seller chooses it in the settings dialog.
    std::unique_ptr<DemoSite> demoSite;
    const auto startDemoSite = [&demoSite]() -> QString {
        if (!demoSite) {
            auto site = std::make_unique<DemoSite>();
            if (!site->start())
                return {};
            demoSite = std::move(site);
        }
        return demoSite->hostPort();
    };
    ProfileOptions asked;
    asked.demo = parser.isSet(demoOption);
    if (asked.demo)
        asked.demoHost = startDemoSite();
    asked.settingsPath = parser.value(settingsOption);
    asked.databasePath = parser.value(databaseOption);
    asked.noHistory = parser.isSet(noHistoryOption);
    // Without settings the window asks for them in its settings dialog.
    asked.writeTemplate = false;
    Profile profile;
    const ProfileLoad load = loadProfile(asked, &profile);
    switch (load.result) {
    case ProfileLoad::Result::Ok:
        // A value out of range keeps its default; the window still starts.
        for (const QString &problem : load.problems)
            std::fprintf(stderr, "brelvon: %s\n", qPrintable(problem));
        break;
    case ProfileLoad::Result::DemoSiteFailed:
        tell(QMessageBox::Critical, QStringLiteral("内置的演示站点无法启动。"));
        return 1;
    case ProfileLoad::Result::SettingsUnreadable:
        tell(QMessageBox::Critical, load.error);
        return 2;
    case ProfileLoad::Result::NoSettings: // the settings dialog opens once the window is up
        break;
    case ProfileLoad::Result::TemplateWritten:
    case ProfileLoad::Result::TemplateFailed:
        tell(QMessageBox::Warning, load.error);
        break;
    }
    // A maintainer's local configuration or area table, instead of the downloads.
    LocalSetup localSetup;
    QString localProblem;
    if (!loadLocalSetup(parser.value(options.config), parser.value(options.areaTable),
                        profile.settingsPath, &localSetup, &localProblem)) {
        tell(QMessageBox::Critical, localProblem);
        return 2;
    }
    const StorageSettings storage = profile.storage;

    // Each batch leaves its table in the temporary folder, open in the spreadsheet program;
    // those of earlier days are done with.
    removeStaleBatchTables(QDir::tempPath(), QDateTime::currentDateTime());

    LookupSession::Options sessionOptions;
    // Room for the most jobs a batch may ask for: the settings dialog may raise [batch] jobs
    // while the window runs (threads and hidden pages are started only as they are needed).
    sessionOptions.jobs = BatchOptions::kMaxJobs;
    // Opened (and made) even without history: the window's menu writes notes and the blacklist.
    sessionOptions.database = LookupSession::Options::Database::CreateIfMissing;
    sessionOptions.browser = true;
    // While our site is down, the last configuration it gave stands in.
    sessionOptions.keepConfiguration = true;
    sessionOptions.keepPace = true;
    if (profile.settingsPath.isEmpty())
        profile.settingsPath = load.path;
    LookupSession session(std::move(profile), sessionOptions);
    session.setLocalSetup(localSetup);
    session.setDemoSiteStarter(startDemoSite);
    const SellerDatabase &database = *session.database();

    MainWindow window(session);
    // The watched folder, the tray, the notifications and the review queue.
    DeskWatch desk(session, &window,
                   parser.isSet(settingsOption)
                       ? QFileInfo(parser.value(settingsOption)).absoluteFilePath()
                       : QString());
    const bool tray = desk.showTray();
    // Hidden only where the tray can bring it back.
    const bool shown = !(parser.isSet(options.hidden) && tray);
    if (shown)
        window.show();
    if (!session.usesDemoSite() && !qEnvironmentVariableIsSet("BRELVON_QUIT_AFTER_SHOW")) {
        // A batch the window did not finish (a crash, a kill) is offered once the window is up;
        // a start hidden in the tray asks nothing.
        window.setBatchJournalPath(defaultDataFolder() +
                                   QLatin1String("/unfinished-batch.journal"));
        if (shown)
            QTimer::singleShot(0, &window, [&window] { window.offerBatchResume(); });
    }
    if (load.result == ProfileLoad::Result::NoSettings)
        QTimer::singleShot(0, &window, [&window] { window.openFirstRunSettings(); });
    if (const QString why = databaseProblem(database, storage.history); !why.isEmpty()) {
        // Said once the window is up: the lookups work all the same.
        std::fprintf(stderr, "brelvon: %s\n", qPrintable(database.problem()));
        QTimer::singleShot(0, &window, [&window, why] {
            QMessageBox box(QMessageBox::Warning, MainWindow::programTitle(), why, QMessageBox::Ok,
                            &window);
            box.setTextFormat(Qt::PlainText);
            box.exec();
        });
    }
    if (qEnvironmentVariableIsSet("BRELVON_QUIT_AFTER_SHOW")) {
        // For smoke tests of an installed copy (tests/install): say what is shown, then close.
        QTimer::singleShot(0, &window, [&window] {
            const QWidget *caption = window.findChild<QWidget *>(QStringLiteral("JSCAPTION1"));
            const auto *sections =
                window.findChild<QTabWidget *>(QStringLiteral("settingsSections"));
            std::printf("brelvon: shown \"%s\" visible=%d caption=%d skin=%s\n",
                        qPrintable(window.windowTitle()), int(window.isVisible()),
                        caption ? caption->height() : -1, qPrintable(MainWindow::skinFilePath()));
            if (sections && sections->isVisible())
                std::printf("brelvon: settings=%s\n",
                            qPrintable(sections->tabText(sections->currentIndex())));
            std::fflush(stdout);
            if (window.settingsDialog())
                window.settingsDialog()->close();
            window.close();
        });
    }
    return app.exec();
}
