#include "app/cli/capturecommand.h"

#include "app/cli/clicommon.h"
#include "browser/pagehandover.h"
#include "engine/configcheck.h"
#include "engine/detailpagebrowser.h"
#include "files/capturefolder.h"
#include "web/codepage936.h"
#include "web/fetchpage.h"
#include "web/texthelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <mutex>

namespace {

// Every body the lookup received, in the order they arrived.
class BodyRecorder : public FetchRecorder
{
public:
    void bodyReceived(const QString &address, const QByteArray &body) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bodies.append({address, body});
    }
    // The first body of that address not taken yet (pages are requested one after another, so
    // the order of the bodies is the order of the pages).
    std::optional<QByteArray> take(const QString &address)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (qsizetype i = 0; i < m_bodies.size(); ++i) {
            if (m_bodies.at(i).first == address)
                return m_bodies.takeAt(i).second;
        }
        return std::nullopt;
    }

private:
    std::mutex m_mutex;
    QList<std::pair<QString, QByteArray>> m_bodies;
};

// The embedded browser, keeping the text it gave.
class RecordingBrowser : public DetailPageBrowser
{
public:
    explicit RecordingBrowser(DetailPageBrowser *browser) : m_browser(browser) {}
    QString loadBodyHtml(const QString &address, const CancelToken *cancel) override
    {
        return loadBody(address, cancel).html;
    }
    Read loadBody(const QString &address, const CancelToken *cancel) override
    {
        Read read = m_browser->loadBody(address, cancel);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!read.tooLarge)
            m_texts.append(read.html);
        return read;
    }
    std::optional<QString> take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_texts.isEmpty())
            return std::nullopt;
        return m_texts.takeFirst();
    }

private:
    DetailPageBrowser *m_browser;
    std::mutex m_mutex;
    QStringList m_texts;
};

// The viewer login ids are the seller's own: a capture names them by their setting instead (only
// where an address carries them, as the trade-card pages' loginId).
QString withoutLogins(QString address, const QuerySettings &settings)
{
    const std::pair<QString, QLatin1String> logins[] = {
        {settings.nameCardLogin, QLatin1String("loginId={nameCardLogin}&")},
        {settings.popupLogin, QLatin1String("loginId={popupLogin}&")}};
    for (const auto &[login, name] : logins) {
        if (!login.isEmpty())
            address.replace(QLatin1String("loginId=") + login + u'&', name);
    }
    return address;
}

} // namespace

int runCaptureCommand(const QStringList &args)
{
    QueryCommandLine cli(
        QStringLiteral("capture [--settings FILE] [--demo] [--browser] [--config FILE] "
                       "[--area-table FILE] [--verbose] ID --out DIR"),
        inUserLanguage(QStringLiteral("查询一个买家，把这次查询读到的内容存入 DIR：每个页面收到时的"
                                      "原样内容、所用的查询配置和地区表、查询结果，以及它们的索引 "
                                      "capture.json。"),
                       QStringLiteral("Looks one buyer up and saves what the lookup read into "
                                      "DIR: every page body as it arrived, the configuration and "
                                      "area table used, the record, and capture.json, their "
                                      "index.")));
    const QCommandLineOption outOption(
        QStringLiteral("out"),
        inUserLanguage(QStringLiteral("保存抓取内容的文件夹（不存在时新建；必须是空的）。"),
                       QStringLiteral("The folder to save the capture in (made when missing; "
                                      "must be empty).")),
        QStringLiteral("DIR"));
    cli.parser().addOption(outOption);
    cli.parser().addPositionalArgument(
        QStringLiteral("ID"),
        inUserLanguage(QStringLiteral("买家ID。"), QStringLiteral("A buyer id.")));
    QueryOptions options;
    int exitCode = CliOk;
    if (!cli.parse(args, &options, &exitCode))
        return exitCode;
    QString out;
    if (!cli.singleValue(
            outOption, inUserLanguage(QStringLiteral("文件夹名"), QStringLiteral("a folder name")),
            &out, &exitCode))
        return exitCode;
    if (out.isEmpty())
        return cli.usage(inUserLanguage(QStringLiteral("缺少 --out DIR"),
                                        QStringLiteral("--out DIR is missing")));
    if (options.operands.size() != 1 || isBlank(options.operands.constFirst()))
        return cli.usage(inUserLanguage(QStringLiteral("请给出一个买家ID"),
                                        QStringLiteral("give one buyer id")));
    const QString id = trimSpaces(options.operands.constFirst());
    const QFileInfo outInfo(out);
    if (outInfo.exists() &&
        (!outInfo.isDir() ||
         !QDir(out)
              .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
              .isEmpty())) {
        printMessage(inUserLanguage(QStringLiteral("%1 不是空文件夹：抓取内容要放在单独的文件夹里"),
                                    QStringLiteral("%1 is not an empty folder: a capture goes into "
                                                   "a folder of its own"))
                         .arg(out));
        return CliUsage;
    }
    // A capture never holds the seller's history: the lookup is not recorded.
    options.noHistory = true;
    options.parallelPages = false;

    QueryRun run;
    if (const int code = prepareQueryRun(options, 1, &run); code != CliOk)
        return code;
    QuerySettings settings = run.profile.settings;
    BodyRecorder bodies;
    run.service->setFetchRecorder(&bodies);
    std::unique_ptr<RecordingBrowser> browser;
    if (run.browser) {
        browser = std::make_unique<RecordingBrowser>(run.browser.get());
        run.service->setBrowser(browser.get());
    }

    std::optional<LookupOutcome> outcome;
    LookupRunner runner(run.service.get());
    const int code = runUntilDone(runner, [&] {
        runner.lookup(id, [&](const LookupOutcome &done) {
            outcome = done;
            QCoreApplication::exit(0);
        });
    });
    if (code != CliOk || !outcome || outcome->status == LookupStatus::Cancelled)
        return code != CliOk ? code : CliInterrupted;

    Capture capture;
    capture.buyerId = outcome->id;
    capture.time = QDateTime::currentDateTimeUtc();
    capture.program = QStringLiteral("brelvon-cli " BRELVON_VERSION);
    capture.lookup = lookupStatusName(outcome->status);
    capture.record = outcome->result.record;
    QHash<QString, QByteArray> files;
    int number = 0;
    for (const PageResult &page : outcome->result.pages) {
        if (options.verbose)
            printPage(id, page);
        CapturedPage saved;
        saved.result = page;
        saved.result.text.clear();
        saved.result.address = withoutLogins(page.address, settings);
        ++number;
        std::optional<QByteArray> body;
        if (page.browser) {
            // The detail page's second try, by the embedded browser.
            saved.result.page = BuyerPage::Detail;
            if (page.outcome != PageOutcome::TooLarge && page.outcome != PageOutcome::Cancelled)
                if (const std::optional<QString> text = browser ? browser->take() : std::nullopt)
                    body = text->toUtf8();
        } else {
            body = bodies.take(page.address);
        }
        if (body && !body->isEmpty()) {
            saved.file =
                QStringLiteral("%1-%2%3.htm")
                    .arg(number, 2, 10, QLatin1Char('0'))
                    .arg(saved.result.page, page.browser ? QStringLiteral("-browser") : QString());
            saved.result.bytes = body->size();
            files.insert(saved.file, *body);
        }
        capture.pages.append(saved);
    }
    // The configuration and area table used: the download's own file when they were downloaded,
    // else (local files) their text in UTF-8.
    const QuerySetupPtr setup = run.service->setup();
    const auto downloaded = [&](const QString &page, const auto &isUsed) {
        for (qsizetype i = capture.pages.size() - 1; i >= 0; --i) {
            const CapturedPage &p = capture.pages.at(i);
            if (p.result.page == page && !p.file.isEmpty() &&
                isUsed(decode936(files.value(p.file))))
                return p.file;
        }
        return QString();
    };
    if (setup->hasConfiguration()) {
        capture.configurationFile = downloaded(BuyerPage::Config, [&](const QString &text) {
            QueryConfig config;
            config.readIndexedList(text);
            return configText(config) == configText(setup->config);
        });
        if (capture.configurationFile.isEmpty()) {
            capture.configurationFile = QStringLiteral("configuration.txt");
            files.insert(capture.configurationFile, configText(setup->config).toUtf8());
        }
    }
    if (!setup->areaTable.isEmpty()) {
        capture.areaTableFile = downloaded(
            BuyerPage::AreaTable, [&](const QString &text) { return text == setup->areaTable; });
        if (capture.areaTableFile.isEmpty()) {
            capture.areaTableFile = QStringLiteral("areatable.txt");
            files.insert(capture.areaTableFile, setup->areaTable.toUtf8());
        }
    }
    QString error;
    if (!writeCaptureFolder(out, capture, files, &error)) {
        printMessage(error);
        return CliFailed;
    }
    printMessage(
        inUserLanguage(QStringLiteral("%1：%2，%3 个页面（保存了 %4 个），在 %5"),
                       QStringLiteral("%1: %2, %3 pages (%4 saved) in %5"))
            .arg(id, englishMessages() ? capture.lookup : lookupStatusText(outcome->status))
            .arg(capture.pages.size())
            .arg(std::count_if(capture.pages.begin(), capture.pages.end(),
                               [](const CapturedPage &p) { return !p.file.isEmpty(); }))
            .arg(QDir::cleanPath(out)));
    return isLookedUp(outcome->status) ? CliOk : CliNotLookedUp;
}
