#pragma once

#include "files/orderfile.h"
#include "files/querysettings.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>

#include <array>
#include <functional>
#include <memory>

class BatchRun;
struct BatchRunOutcome;
struct BatchStart;
class QTimer;
class LookupService;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class ResultLines;
class VerdictBar;
struct BatchRow;
struct LookupOutcome;
struct MainWindowLayout;

// The window's batch: ids from a file the user picks, looked up by the lookup service with the
// progress in the result area (the progress line, a bar and a stop button), the table written to
// a temporary xlsx file and opened in the spreadsheet program when one is installed, and a summary
// of the outcomes left in the result area until the next query, with the table's path and links
// to open it, save a copy and open its folder. The hidden fields follow the batch as it goes (Text1
// the id in progress, Text8 to Text19 the last record that came back); nothing is read back out
// of them.
class BatchFrontEnd : public QObject
{
    Q_OBJECT
public:
    // The dialog that picks the id file (returns the chosen name, empty when cancelled), the
    // program that shows the written table (false when nothing could be started) and the dialog
    // that picks where to save a copy of the table (suggested: a name in the user's documents;
    // empty when cancelled).
    using IdFileChooser = std::function<QString(QWidget *parent)>;
    using SpreadsheetOpener = std::function<bool(const QString &path)>;
    using SaveFileChooser = std::function<QString(QWidget *parent, const QString &suggested)>;

    BatchFrontEnd(QWidget *window, LookupService *service, const QuerySettings &settings,
                  const MainWindowLayout &layout, ResultLines *lines);
    ~BatchFrontEnd() override;

    // Empty functions restore the defaults: the open-file dialog, openSpreadsheet and the
    // save-file dialog.
    void setIdFileChooser(IdFileChooser chooser) { m_chooseIdFile = std::move(chooser); }
    void setSpreadsheetOpener(SpreadsheetOpener opener) { m_openSpreadsheet = std::move(opener); }
    void setSaveFileChooser(SaveFileChooser chooser) { m_chooseSaveFile = std::move(chooser); }

    bool isRunning() const { return m_running; }
    void run();
    // Where the window's batch keeps its journal (empty, the default: none). With one, every
    // finished row is written there as it finishes, and a batch the window did not finish (a
    // crash, a kill) can be resumed.
    void setJournalPath(const QString &path) { m_journalPath = path; }
    // Offers to continue the unfinished batch of the journal, if there is one: 继续 runs it (the
    // rows kept are not looked up again), 放弃 removes the journal, 以后再说 keeps it.
    void offerResume();
    // The stop button (and the window's Esc): no further buyer starts, those in flight finish, and
    // the table of the finished ones is written as at the end. A second stop cuts the buyers in
    // flight short; so does the first before any buyer has started (the configuration's download).
    void stop();
    // The window is closing: a batch running ends without its table.
    void abandon();
    // Waits for the batch's thread to end.
    void join();
    // The settings the next batch runs with.
    void setSettings(const QuerySettings &settings) { m_settings = settings; }
    // A query begins: the last batch's summary goes.
    void clearSummary();
    // The last batch's table (empty: none), and what its links do.
    QString tablePath() const { return m_table; }
    void openTable();
    void saveTable() { saveTableCopy(m_table); }
    void openTableFolder();

    // "共N个：找到a个，查无此人b个，失败c个，高风险d个" over the buyers looked up (failed: neither
    // found nor not found); a stopped batch's begins with "已停止：" and says on a second line how
    // many ids were not queried.
    static QString summaryText(const QList<LookupOutcome> &outcomes, bool stopped,
                               qsizetype notQueried);

signals:
    // The batch has begun its queries (the window disables its query buttons).
    void busy();
    // The batch has ended: its table written and handed on, or abandoned.
    void finished();
    // Orders of 高 buyers of an order export went into the review queue.
    void reviewQueueChanged();
    // Fields most found buyers lack now but had over the last month (the text names them and
    // the configuration).
    void staleRulesFound(const QString &text);

private:
    // The batch of the file; resume: continue from the journal.
    void start(const QString &fileName, bool resume);
    void paused(int seconds, const QString &why);
    void showPause();
    QString chooseIdFile();
    QString chooseSaveFile(const QString &suggested);
    // The input is read: asks about ids left out, then looks the buyers up.
    void inputRead(const BatchStart &start);
    void started(int total, const QString &id);
    void done(const BatchRunOutcome &outcome);
    // No program opened the table at path: offers to save a copy or open its folder.
    void offerTable(const QString &path);
    void saveTableCopy(const QString &table);
    void end();
    void tell(const QString &text);
    // A warning about path, with a button that copies the path.
    void tellPath(const QString &text, const QString &path);
    // A question with OK and Cancel; false when cancelled or the window went meanwhile.
    bool confirm(const QString &text);

    QWidget *m_window;
    QuerySettings m_settings;
    ResultLines *m_lines;
    QLineEdit *m_batchIdField;
    std::array<QLineEdit *, 12> m_resultFields;
    QPlainTextEdit *m_areaTableField;
    QProgressBar *m_progressBar;
    QPushButton *m_stopButton;
    QLabel *m_summary;
    QWidget *m_tableRow;
    QLabel *m_tablePath;
    QString m_table;
    VerdictBar *m_bar = nullptr;   // the verdicts under the summary
    QLabel *m_staleLine = nullptr; // page rules gone stale, under the bar
    LookupService *m_service;
    BatchRun *m_run = nullptr; // the batch running (null: none)
    bool m_running = false;
    bool m_abandoned = false;
    bool m_lookingUp = false; // the input is read and its progress shows
    int m_stops = 0;          // stop presses in this batch
    int m_started = 0;        // buyers started in this batch
    int m_finishedRows = 0;   // buyers finished in this batch
    QString m_idFileName;     // the batch's id file: a copy of the table never lands on it
    QString m_journalPath;
    QElapsedTimer m_clock; // since the batch's first buyer
    int m_journalled = 0;  // rows taken from the journal
    QTimer *m_pauseTimer;  // counts a pause down on the progress line
    QDateTime m_pauseEnd;
    QString m_progressLine; // the line the pause stands in for
    IdFileChooser m_chooseIdFile;
    SpreadsheetOpener m_openSpreadsheet;
    SaveFileChooser m_chooseSaveFile;
};
