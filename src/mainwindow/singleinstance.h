#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;

// One window program per seller's data: the first start listens on a local socket named after
// its settings file and database; a later start with the same ones hands its arguments over and
// ends, so there is one window, one tray icon and one watcher. Starts with other settings or
// another database run side by side.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    explicit SingleInstance(const QString &key, QObject *parent = nullptr);
    ~SingleInstance() override;

    // The key of a start: the settings file (empty: the default one), the --database asked for
    // (empty: the settings decide) and whether the demo site serves it. Paths count as absolute.
    static QString keyFor(const QString &settingsPath, const QString &databasePath, bool demo);

    // Either hands arguments to the program already running with this key (true: this start is
    // done) or becomes that program, listening for later starts (false). Two starts at the same
    // moment are taken one at a time, so exactly one of them listens.
    bool handOverOrListen(const QStringList &arguments);
    bool isListening() const;

signals:
    // A later start's arguments (without the program name).
    void argumentsReceived(const QStringList &arguments);

private:
    bool handOver(const QStringList &arguments);
    void listen();
    void takeConnection();

    QString m_key;
    QLocalServer *m_server = nullptr;
};
