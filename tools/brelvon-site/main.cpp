// brelvon-site: serves our web site's data and the demo marketplace on a loopback port until it
// is killed.

#include "demosite.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] = "usage: brelvon-site [--port N] [--delay MS] [--version TEXT]\n"
                      "       brelvon-site --version\n"
                      "  --port N        listen on 127.0.0.1:N (0, the default: any free port)\n"
                      "  --delay MS      hold every answer back MS milliseconds\n"
                      "  --version TEXT  version text of the start-up list (default bb1.0)\n"
                      "  --version       (last, without TEXT) show the program's version\n";

int usageError(const QString &message)
{
    std::fprintf(stderr, "brelvon-site: %s\n%s", qPrintable(message), kUsage);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    quint16 port = 0;
    int delayMs = 0;
    QString version;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args.at(i);
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a != QLatin1String("--port") && a != QLatin1String("--delay") &&
            a != QLatin1String("--version"))
            return usageError(QStringLiteral("unknown argument: %1").arg(a));
        // Without a value, --version asks for our own version (with one, it sets the start-up
        // list's version text, an older option).
        if (a == QLatin1String("--version") && i + 1 == args.size()) {
            std::printf("brelvon-site %s\n", BRELVON_VERSION);
            return 0;
        }
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("%1 needs a value").arg(a));
        const QString value = args.at(++i);
        bool ok = false;
        if (a == QLatin1String("--port")) {
            const uint n = value.toUInt(&ok);
            if (!ok || n > 65535)
                return usageError(QStringLiteral("--port: not a port number: %1").arg(value));
            port = quint16(n);
        } else if (a == QLatin1String("--delay")) {
            delayMs = value.toInt(&ok);
            if (!ok || delayMs < 0)
                return usageError(
                    QStringLiteral("--delay: not a number of milliseconds: %1").arg(value));
        } else {
            if (value.trimmed().isEmpty() || value.contains(u'#'))
                return usageError(QStringLiteral("--version: must be non-blank and without #"));
            version = value;
        }
    }

    DemoSite site;
    site.setVersionText(version);
    if (!site.start(port, delayMs)) {
        std::fprintf(stderr, "brelvon-site: cannot listen on 127.0.0.1:%u\n", unsigned(port));
        return 1;
    }
    std::printf("%s\n", qPrintable(site.hostPort()));
    std::fflush(stdout);
    return app.exec();
}
