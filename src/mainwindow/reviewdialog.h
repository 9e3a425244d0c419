#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;
class SellerDatabase;

// The review queue: the orders of 高 buyers from order exports, oldest first. The seller marks
// each "已处理" with an optional note; handled orders leave the list and stay in the database.
class ReviewDialog : public QDialog
{
    Q_OBJECT
public:
    explicit ReviewDialog(SellerDatabase *database, QWidget *parent = nullptr);

    // Asks for the note on handling (starting empty); false when cancelled. The default is
    // QInputDialog; tests replace it.
    using NotePrompt = std::function<bool(QWidget *parent, QString *note)>;
    void setNotePrompt(NotePrompt prompt) { m_prompt = std::move(prompt); }

    void refresh();
    // "已处理": the selected orders, with one note for them all.
    void markSelectedHandled();

signals:
    // Entries were marked handled (the tray's count follows).
    void queueChanged();

private:
    SellerDatabase *m_database;
    NotePrompt m_prompt;
    QTableWidget *m_table = nullptr;
    QLabel *m_count = nullptr;
    QPushButton *m_handled = nullptr;
};
