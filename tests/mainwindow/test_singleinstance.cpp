#include "mainwindow/singleinstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

// One window program per settings file and database: a later start hands its arguments over and
// ends; other settings or another database run side by side.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString settingsFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("brelvon.conf"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) // hosts that refuse at once
            file.write("[hosts]\nmain=127.0.0.1:1\nsecond=127.0.0.1:1\ntradecard=127.0.0.1:1\n");
        return path;
    }
    QProcess *start(const QStringList &arguments)
    {
        auto *program = new QProcess(this);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        program->setProcessEnvironment(env);
        program->start(QCoreApplication::applicationDirPath() + QStringLiteral("/brelvon"),
                       arguments);
        return program;
    }
    static void end(QProcess *program)
    {
        program->kill();
        program->waitForFinished(5000);
    }

private slots:
    // In one process: the first listens, the second hands over and is told it was taken; a
    // socket left by a program that crashed does not stop the next from listening.
    void handOver()
    {
        const QString key =
            SingleInstance::keyFor(m_dir.filePath(QStringLiteral("x.conf")), QString(), false);
        QLocalServer::removeServer(key);
        // What a crashed program leaves: its socket's name taken, nobody answering.
        QFile stale(QDir::temp().filePath(key));
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        SingleInstance first(key);
        QVERIFY(!first.handOverOrListen({}));
        QVERIFY(first.isListening());
        QSignalSpy received(&first, &SingleInstance::argumentsReceived);
        bool handed = false;
        std::thread later([&] {
            SingleInstance second(key);
            handed = second.handOverOrListen({QStringLiteral("--hidden"), QStringLiteral("买家")});
        });
        QTRY_COMPARE(received.size(), 1);
        later.join();
        QVERIFY(handed);
        QCOMPARE(received.at(0).at(0).toStringList(),
                 QStringList({QStringLiteral("--hidden"), QStringLiteral("买家")}));
    }

    // The program itself: a second start with the same settings and database ends at once with
    // 0 and leaves the first running; another database runs beside it.
    void secondStart()
    {
        const QString settings = settingsFile();
        const QString database = m_dir.filePath(QStringLiteral("one.sqlite"));
        QProcess *first =
            start({QStringLiteral("--settings"), settings, QStringLiteral("--database"), database});
        QVERIFY(first->waitForStarted());
        const QString key = SingleInstance::keyFor(settings, database, false);
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QLocalSocket probe;
                probe.connectToServer(key);
                return probe.waitForConnected(500);
            }(),
            20000);
        QProcess *second =
            start({QStringLiteral("--settings"), settings, QStringLiteral("--database"), database,
                   QStringLiteral("--hidden"), QStringLiteral("tom")});
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(first->state(), QProcess::Running);

        QProcess *beside =
            start({QStringLiteral("--settings"), settings, QStringLiteral("--database"),
                   m_dir.filePath(QStringLiteral("two.sqlite"))});
        QVERIFY(!beside->waitForFinished(2000)); // still running: a window of its own
        end(beside);
        end(first);
    }
};

QTEST_MAIN(TestSingleInstance)

#include "test_singleinstance.moc"
