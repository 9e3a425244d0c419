#pragma once

#include "model/riskverdict.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;
class QTimer;
class SellerDatabase;
struct HistoryFilter;

// The seller's past lookups, newest first: a filter (part of a buyer id or nick, and a span of
// days), a table of the newest lookups that match, and an export of every match to a CSV file
// (UTF-8 with a byte order mark, so spreadsheet programs read the Chinese). Selected rows can be
// deleted (after a question); a double-click on a row asks the window to look the buyer up again.
class HistoryDialog : public QDialog
{
    Q_OBJECT
public:
    // The table shows at most this many lookups; the export writes every match.
    static constexpr int kShownLookups = 1000;

    // risk: the thresholds the risk column is assessed by (with the seller's present marks).
    HistoryDialog(SellerDatabase *database, const QString &filter, QWidget *parent = nullptr,
                  const RiskSettings &risk = {});

    // The dialog that picks the CSV file to write (returns the name, empty when cancelled); an
    // empty function restores the save-file dialog.
    using SaveFileChooser = std::function<QString(QWidget *parent)>;
    void setSaveFileChooser(SaveFileChooser chooser);

    // Runs the filter now (typing runs it after a short pause).
    void refresh();
    // Writes every lookup the filter matches to path; false with a message in *error.
    bool exportTo(const QString &path, QString *error) const;
    // The export button's action: asks for a file, writes it, says how it went.
    void exportCsv();
    // The delete button's action: asks, then deletes the selected lookups.
    void deleteSelected();
    // Only lookups of these days (both included); invalid dates: every day.
    void setDays(const QDate &from, const QDate &to);

signals:
    void lookUpAgain(const QString &buyerId);

private:
    HistoryFilter filter() const;

    SellerDatabase *m_database;
    RiskSettings m_risk;
    SaveFileChooser m_chooseFile;
    QLineEdit *m_filter = nullptr;
    QTableWidget *m_table = nullptr;
    QLabel *m_count = nullptr;
    QPushButton *m_export = nullptr;
    QPushButton *m_delete = nullptr;
    QCheckBox *m_byDate = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
    QTimer *m_typing = nullptr;
};
