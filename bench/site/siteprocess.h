#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>

// brelvon-site --delay MS in a process of its own (beside the benchmark), for as long as the
// object lives; hostPort() is empty when it did not start.
class SiteProcess
{
public:
    explicit SiteProcess(int delayMs)
    {
        m_process.start(QCoreApplication::applicationDirPath() + "/brelvon-site",
                        {"--delay", QString::number(delayMs)});
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000))
            m_hostPort = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~SiteProcess()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString hostPort() const { return m_hostPort; }

private:
    QProcess m_process;
    QString m_hostPort;
};
