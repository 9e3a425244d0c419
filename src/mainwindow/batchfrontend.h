#pragma once

#include "files/querysettings.h"

#include <QObject>

#include <array>
#include <functional>

class LookupRunner;
class LookupService;
class QLineEdit;
class QPlainTextEdit;
class QWidget;
class ResultLines;
struct BatchRow;
struct MainWindowLayout;

// The window's batch: ids from a file the user picks, looked up by the lookup service with the
// progress in the result area, the table written to a temporary xlsx file and opened in
// the spreadsheet program. The hidden fields follow the batch as it goes (Text1 the id in
// progress, Text8 to Text19 the last record that came back); nothing is read back out of them.
class BatchFrontEnd : public QObject
{
    Q_OBJECT
public:
    // The dialog that picks the id file (returns the chosen name, empty when cancelled) and the
    // program that shows the written table (false when nothing could be started).
    using IdFileChooser = std::function<QString(QWidget *parent)>;
    using SpreadsheetOpener = std::function<bool(const QString &path)>;

    BatchFrontEnd(QWidget *window, LookupService *service, const QuerySettings &settings,
                  const MainWindowLayout &layout, ResultLines *lines);
    ~BatchFrontEnd() override;

    // Empty functions restore the defaults: the open-file dialog and openSpreadsheet.
    void setIdFileChooser(IdFileChooser chooser) { m_chooseIdFile = std::move(chooser); }
    void setSpreadsheetOpener(SpreadsheetOpener opener) { m_openSpreadsheet = std::move(opener); }

    bool isRunning() const { return m_running; }
    void run();
    // The window is closing: a batch running ends without its table.
    void abandon();
    // Waits for the batch's thread to end.
    void join();
    // The settings the next batch runs with.
    void setSettings(const QuerySettings &settings) { m_settings = settings; }

signals:
    // The batch has begun its queries (the window disables its query buttons).
    void busy();
    // The batch has ended: its table written and handed on, or abandoned.
    void finished();

private:
    QString chooseIdFile();
    void finish(const QList<BatchRow> &rows, bool abandoned);
    void end();
    void tell(const QString &text);

    QWidget *m_window;
    QuerySettings m_settings;
    ResultLines *m_lines;
    QLineEdit *m_batchIdField;
    std::array<QLineEdit *, 12> m_resultFields;
    QPlainTextEdit *m_areaTableField;
    LookupRunner *m_runner;
    bool m_running = false;
    bool m_abandoned = false;
    IdFileChooser m_chooseIdFile;
    SpreadsheetOpener m_openSpreadsheet;
};
