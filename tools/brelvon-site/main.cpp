// brelvon-site: serves our web site's data and the demo marketplace on a loopback port until it
// is killed.

#include "demosite/demosite.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

int usageError(const QString &message)
{
    std::fprintf(stderr, "brelvon-site: %s\nTry 'brelvon-site --help'.\n", qPrintable(message));
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // Alone, --version shows our own version; with a value it is the start-up list's version
    // text, the older meaning, which it keeps.
    if (app.arguments().mid(1) == QStringList{QStringLiteral("--version")}) {
        std::printf("brelvon-site %s\n", BRELVON_VERSION);
        return 0;
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves our web site and the demo marketplace on 127.0.0.1 until it is "
                       "killed.\nPrints the host:port it listens on first."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Shows this help."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Listen on 127.0.0.1:N (0, the default: any free port)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption delayOption(QStringLiteral("delay"),
                                         QStringLiteral("Hold every answer back MS milliseconds."),
                                         QStringLiteral("MS"), QStringLiteral("0"));
    const QCommandLineOption versionOption(
        QStringLiteral("version"),
        QStringLiteral("Version text of the start-up list (default bb1.0). Alone, without TEXT: "
                       "show the program's version."),
        QStringLiteral("TEXT"));
    const QCommandLineOption blockOption(
        QStringLiteral("block-after"),
        QStringLiteral("Answer every N-th marketplace request with the marketplace's login page "
                       "(0, the default: never)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption rateOption(
        QStringLiteral("rate-limit"),
        QStringLiteral("Serve the login page for 3 s whenever more than N marketplace pages are "
                       "asked for within one second (0, the default: never)."),
        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption budgetOption(
        QStringLiteral("budget"),
        QStringLiteral("Serve at most N marketplace pages within any W seconds, then the login "
                       "page for B seconds, as a marketplace with a budget per address does."),
        QStringLiteral("N/W/B"));
    const QCommandLineOption silentOption(
        QStringLiteral("silent-host"),
        QStringLiteral("Also listen on a second port that accepts connections and never answers; "
                       "its host:port is printed on the second line."));
    parser.addOptions({help, portOption, delayOption, versionOption, blockOption, rateOption,
                       budgetOption, silentOption});
    if (!parser.parse(app.arguments()))
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unknown argument: %1").arg(parser.positionalArguments().constFirst()));

    bool ok = false;
    const QString portText = parser.value(portOption);
    const uint port = portText.toUInt(&ok);
    if (!ok || port > 65535)
        return usageError(QStringLiteral("--port: not a port number: %1").arg(portText));
    const QString delayText = parser.value(delayOption);
    const int delayMs = delayText.toInt(&ok);
    if (!ok || delayMs < 0)
        return usageError(
            QStringLiteral("--delay: not a number of milliseconds: %1").arg(delayText));
    const QString version = parser.value(versionOption);
    if (parser.isSet(versionOption) && (version.trimmed().isEmpty() || version.contains(u'#')))
        return usageError(QStringLiteral("--version: must be non-blank and without #"));

    const QString blockText = parser.value(blockOption);
    const int blockAfter = blockText.toInt(&ok);
    if (!ok || blockAfter < 0)
        return usageError(QStringLiteral("--block-after: not a number: %1").arg(blockText));

    const QString rateText = parser.value(rateOption);
    const int rateLimit = rateText.toInt(&ok);
    if (!ok || rateLimit < 0)
        return usageError(QStringLiteral("--rate-limit: not a number: %1").arg(rateText));

    int budget[3] = {0, 0, 0};
    if (parser.isSet(budgetOption)) {
        if (parser.isSet(rateOption))
            return usageError(QStringLiteral("--budget and --rate-limit: one or the other"));
        const QStringList parts = parser.value(budgetOption).split(u'/');
        bool good = parts.size() == 3;
        for (int i = 0; good && i < 3; ++i) {
            budget[i] = parts[i].toInt(&good);
            good = good && budget[i] > 0 && budget[i] <= 86400;
        }
        if (!good)
            return usageError(QStringLiteral("--budget: not N/W/B (three whole numbers from 1 "
                                             "to 86400, e.g. 120/60/20): %1")
                                  .arg(parser.value(budgetOption)));
    }

    DemoSite site;
    site.setVersionText(version);
    site.setBlockAfter(blockAfter);
    if (budget[0] > 0)
        site.setBudget(budget[0], budget[1], budget[2]);
    else
        site.setRateLimit(rateLimit);
    if (!site.start(quint16(port), delayMs)) {
        std::fprintf(stderr, "brelvon-site: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    if (parser.isSet(silentOption) && !site.startSilentHost()) {
        std::fprintf(stderr, "brelvon-site: cannot listen for the silent host\n");
        return 1;
    }
    std::printf("%s\n", qPrintable(site.hostPort()));
    if (parser.isSet(silentOption))
        std::printf("%s\n", qPrintable(site.silentHostPort()));
    std::fflush(stdout);
    return app.exec();
}
