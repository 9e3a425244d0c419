#pragma once

#include "files/inidocument.h"
#include "files/querysettings.h"
#include "lookup/connectiontest.h"
#include "storage/storagesettings.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QList>

#include <memory>

class CancelToken;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class LookupRunner;
class LookupService;

// The settings dialog ("设置"): the settings file the command line reads too, edited field by
// field in six sections (服务器, 查询, 批量, 风险, 记录, 监视). Each field shows the file's value,
// or the default when the file has none. Saving checks every field as the program reads it: a value
// that would be refused is named next to its field and nothing is written. Otherwise only the
// changed values are written into the file (comments, unknown keys and sections stay as they
// are), through a new file renamed over the old one.
//
// Field editors carry the file's key as their objectName ("hosts/main", "risk/minGoodRate" …),
// their reasons the key + "/error".
class SettingsDialog : public QDialog
{
    Q_OBJECT
public:
    enum Section { Server, Query, Batch, Risk, Storage, Watch };

    explicit SettingsDialog(const QString &settingsPath, QWidget *parent = nullptr);
    ~SettingsDialog() override;

    QString settingsPath() const { return m_path; }
    void showSection(Section section);
    // First run: 服务器 comes first with a short explanation and "使用演示站点".
    void setFirstRun(bool firstRun);

    // A field's shown text ("true"/"false" for a check box); setFieldText sets it.
    QString fieldText(const QString &key) const;
    void setFieldText(const QString &key, const QString &text);
    // The reason shown next to a field ("" when it is fine).
    QString fieldProblem(const QString &key) const;

    // Checks the fields and writes the file. False when a field was refused or the file could not
    // be written (problem() says why); nothing is written then.
    bool save();
    QString problem() const { return m_problem; }

    // The [risk] fields back to the program's defaults (not saved until save()).
    void restoreRiskDefaults();

    // The connection test with the hosts as shown: on a worker, with the usual waits; the lines
    // appear in the results box once every host has answered or given up.
    void startConnectionTest();
    void cancelConnectionTest();
    bool connectionTestRunning() const;
    // The service whose executor runs the connection test (the window's). Without one the
    // dialog runs it on a session of its own.
    void setLookupService(LookupService *service);
    QList<ConnectionCheck> connectionResults() const { return m_results; }

signals:
    // The file has been written; these are its settings as the program reads them.
    void saved(const QuerySettings &settings, const StorageSettings &storage);
    // "使用演示站点" on the first run.
    void demoSiteChosen();
    void connectionTestFinished();

public:
    void accept() override;
    void done(int result) override;

private:
    struct Field;
    QWidget *buildServerPage();
    QWidget *buildQueryPage();
    QWidget *buildBatchPage();
    QWidget *buildRiskPage();
    QWidget *buildStoragePage();
    QWidget *buildWatchPage();
    // Adds a field's row (label, editor, default, reason) to a form.
    void addField(class QGridLayout *grid, const QString &key, const QString &label, int kind,
                  const QString &defaultText, const QString &rule, bool showDefault = false);
    Field *field(const QString &key) const;
    void loadFields();
    bool checkFields(IniDocument *document, QuerySettings *settings, StorageSettings *storage);
    // The proxy field as the program reads it (into *network when not null); false, with the
    // reason under the field, when it cannot be used.
    bool readProxyField(NetworkSettings *network);
    void finishConnectionTest(const QList<ConnectionCheck> &checks, bool cancelled);
    LookupRunner *testRunner();
    void openDataFolder();
    void chooseDatabase();
    void chooseWatchFolder();
    // A grey line under the last field saying what it is for.
    void addNote(class QGridLayout *grid, const QString &text);
    // A field was edited: its old refusal, and the dialog's, no longer apply.
    void fieldEdited(Field *f);
    // The connection test under way: each host tried, and the seconds so far.
    void showTestProgress();

    QString m_path;
    IniDocument m_document;
    QString m_problem;
    QTabWidget *m_tabs = nullptr;
    QLabel *m_firstRun = nullptr;
    QPushButton *m_demoButton = nullptr;
    QPushButton *m_testButton = nullptr;
    QPushButton *m_cancelTestButton = nullptr;
    QPlainTextEdit *m_resultsBox = nullptr;
    QLabel *m_problemLine = nullptr;
    std::vector<std::unique_ptr<Field>> m_fields;
    LookupService *m_service = nullptr;
    LookupRunner *m_testRunner = nullptr;
    QuerySettings m_testedHosts; // what the running connection test asks
    class QTimer *m_testTimer = nullptr;
    QElapsedTimer m_testClock;
    QList<ConnectionCheck> m_results;
};
