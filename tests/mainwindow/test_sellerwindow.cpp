// The window's side of the seller's database: lines under the result, the result area's context
// menu, the history dialog, batch rows marked. Against the demo site, in-process.
#include "demosite/demosite.h"
#include "lookup/lookupservice.h"
#include "mainwindow/blacklistfiles.h"
#include "mainwindow/buyernotesmenu.h"
#include "mainwindow/historydialog.h"
#include "mainwindow/mainwindow.h"
#include "mainwindow/reviewdialog.h"
#include "mainwindow/riskverdictview.h"
#include "storage/sellerdatabase.h"
#include "windowonsession.h"
#include "xlsxsheet.h"

#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <memory>

class TestSellerWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    DemoSite m_site;
    std::unique_ptr<SellerDatabase> m_db;
    QStringList m_tables;

    std::unique_ptr<MainWindow> makeWindow(bool recordHistory = true)
    {
        auto w = windowOn(demoSettings(m_site.hostPort()));
        if (!QTest::qWaitFor([&] { return !w->startupListPending(); }, 20000))
            qWarning("the start-up list never arrived");
        w->setSellerDatabase(m_db.get(), recordHistory);
        w->setSpreadsheetOpener([this](const QString &path) {
            m_tables.append(path);
            return true;
        });
        return w;
    }
    static void query(MainWindow *w, const QString &id)
    {
        w->findChild<QLineEdit *>(QStringLiteral("Text2"))->setText(id);
        w->runQuery();
        if (!QTest::qWaitFor([&] { return !w->queryRunning(); }, 60000))
            qWarning("the query never came back");
    }
    static QLabel *line(MainWindow *w, const char *name)
    {
        return w->findChild<QLabel *>(QLatin1String(name));
    }
    void blacklist(const QString &id, const QString &reason)
    {
        BuyerNote n;
        n.buyerId = id;
        n.listed = ListMark::Blacklist;
        n.reason = reason;
        QVERIFY(m_db->saveNote(n));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QVERIFY(m_site.start());
    }
    void init()
    {
        m_db = std::make_unique<SellerDatabase>();
        QVERIFY(m_db->open(
            m_dir.filePath(QStringLiteral("%1.sqlite").arg(QTest::currentTestFunction()))));
    }

    // A buyer seen before: when and what changed; a blacklisted one: the reason, in red.
    void linesUnderTheResult()
    {
        BuyerQueryResult earlier;
        earlier.record.buyerId = QStringLiteral("tom.wang");
        earlier.record.goodCount = QStringLiteral("9");
        earlier.record.badGiven = QStringLiteral("2");
        earlier.record.creditUrl = QStringLiteral("http://example.com/rate/user-rate-1.htm");
        const QDateTime then(QDate(2026, 11, 2), QTime(10, 0));
        QVERIFY(m_db->addLookup(earlier, then));
        BuyerNote n;
        n.buyerId = QStringLiteral("tom.wang");
        n.listed = ListMark::Blacklist;
        n.reason = QStringLiteral("收货后退款");
        n.listedOn = QDate(2026, 11, 20);
        n.note = QStringLiteral("电话\n确认过");
        QVERIFY(m_db->saveNote(n));

        auto w = makeWindow();
        w->show();
        query(w.get(), QStringLiteral("tom.wang"));
        QCOMPARE(line(w.get(), "HistoryLine")->text(),
                 QStringLiteral("上次查询 2026-11-02：好评 9→12"));
        QCOMPARE(line(w.get(), "BlacklistLine")->text(), QStringLiteral("黑名单：收货后退款"));
        QCOMPARE(line(w.get(), "BlacklistLine")->toolTip(),
                 QStringLiteral("黑名单：收货后退款\n加入黑名单：2026-11-20"));
        QVERIFY(line(w.get(), "BlacklistLine")->isVisible());
        // The note shows on one line; the lines share the row without overlapping.
        QCOMPARE(line(w.get(), "NoteLine")->text(), QStringLiteral("备注：电话 确认过"));
        QVERIFY(line(w.get(), "NoteLine")->isVisible());
        QVERIFY(line(w.get(), "NoteLine")->x() >
                line(w.get(), "BlacklistLine")->geometry().right());
        QVERIFY(line(w.get(), "HistoryLine")->x() > line(w.get(), "NoteLine")->geometry().right());
        QVERIFY(line(w.get(), "HistoryLine")->geometry().right() <
                w->findChild<QWidget *>(QStringLiteral("Frame2"))->width());
        QVERIFY(w->resultLine().endsWith(QStringLiteral("，标记：黑名单：收货后退款")));
        QVERIFY(line(w.get(), "BlacklistLine")->styleSheet().contains(QStringLiteral("#D00000")));
        QCOMPARE(line(w.get(), "Label6")->text(),
                 QStringLiteral("好评率100.00，好评12，中评0，差评0")); // unchanged
        QCOMPARE(m_db->lookupCount(), qint64(2));

        // Never seen, not listed: neither line; without history nothing is recorded.
        w->setSellerDatabase(m_db.get(), false);
        query(w.get(), QStringLiteral("xiaoyu_2008"));
        QVERIFY(!line(w.get(), "HistoryLine")->isVisible());
        QVERIFY(!line(w.get(), "BlacklistLine")->isVisible());
        QCOMPARE(m_db->lookupCount(), qint64(2));
    }

    void contextMenu()
    {
        auto w = makeWindow();
        w->show();
        query(w.get(), QStringLiteral("tom.wang"));
        auto *notes = w->findChild<BuyerNotesMenu *>();
        QVERIFY(notes);
        QString answer = QStringLiteral("  拒收  ");
        notes->setTextPrompt(
            [&](QWidget *, const QString &, const QString &label, bool, QString *text) {
                if (!label.contains(QStringLiteral("tom.wang")))
                    return false;
                *text = answer;
                return true;
            });
        std::unique_ptr<QMenu> menu(notes->menuFor(QStringLiteral("tom.wang"), w.get()));
        QStringList texts;
        for (QAction *a : menu->actions())
            texts.append(a->text());
        QCOMPARE(texts, (QStringList{"加入黑名单…", "备注…", "移出黑名单", "信任", "", "查询历史…",
                                     "待处理订单…", "", "导入黑名单…", "导出黑名单…"}));
        QVERIFY(!menu->actions().at(2)->isEnabled()); // not listed yet

        auto *verdict = w->findChild<RiskVerdictView *>(QStringLiteral("RiskVerdict"));
        QVERIFY(verdict);
        QCOMPARE(verdict->verdictText(), QStringLiteral("风险：中"));
        menu->actions().at(0)->trigger();
        QCOMPARE(m_db->note(QStringLiteral("tom.wang")).reason, QStringLiteral("拒收"));
        QCOMPARE(line(w.get(), "BlacklistLine")->text(), QStringLiteral("黑名单：拒收"));
        // The verdict follows the mark at once, with the reason among its reasons.
        QCOMPARE(verdict->verdictText(), QStringLiteral("风险：高"));
        QVERIFY(verdict->toolTip().contains(QStringLiteral("拒收")));
        answer = QStringLiteral("电话确认过");
        menu.reset(notes->menuFor(QStringLiteral("tom.wang"), w.get()));
        menu->actions().at(1)->trigger();
        menu->actions().at(2)->trigger();
        const BuyerNote note = m_db->note(QStringLiteral("tom.wang"));
        QCOMPARE(note.listed, ListMark::None);
        QCOMPARE(note.note, QStringLiteral("电话确认过")); // the note outlives the mark
        QVERIFY(!line(w.get(), "BlacklistLine")->isVisible());
        QCOMPARE(verdict->verdictText(), QStringLiteral("风险：中"));
        QVERIFY(!verdict->toolTip().contains(QStringLiteral("拒收")));
        // Trust, and trust taken off again; a listed buyer trusted leaves the blacklist.
        BuyerNote listed = m_db->note(QStringLiteral("tom.wang"));
        listed.listed = ListMark::Blacklist;
        listed.reason = QStringLiteral("拒收");
        QVERIFY(m_db->saveNote(listed));
        menu.reset(notes->menuFor(QStringLiteral("tom.wang"), w.get()));
        menu->actions().at(3)->trigger();
        QCOMPARE(m_db->note(QStringLiteral("tom.wang")).listed, ListMark::Trusted);
        QVERIFY(w->resultLine().endsWith(QStringLiteral("，标记：信任")));
        menu.reset(notes->menuFor(QStringLiteral("tom.wang"), w.get()));
        QVERIFY(menu->actions().at(3)->isChecked());
        menu->actions().at(3)->trigger();
        QCOMPARE(m_db->note(QStringLiteral("tom.wang")).listed, ListMark::None);
        QCOMPARE(m_db->note(QStringLiteral("tom.wang")).note, QStringLiteral("电话确认过"));
    }

    void historyDialog()
    {
        auto w = makeWindow();
        for (const char *id : {"tom.wang", "xiaoyu_2008", "tom.wang"})
            query(w.get(), QLatin1String(id));
        blacklist(QStringLiteral("tom.wang"), QStringLiteral("拒收"));
        w->showHistory(QStringLiteral("tom"));
        auto *dialog = w->findChild<HistoryDialog *>();
        QVERIFY(dialog);
        auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("HistoryTable"));
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("tom.wang"));
        // Risk and mark as the seller's marks stand now.
        QCOMPARE(table->item(0, 12)->text(), QStringLiteral("高"));
        QCOMPARE(table->item(0, 13)->text(), QStringLiteral("黑名单：拒收"));
        dialog->findChild<QLineEdit *>(QStringLiteral("HistoryFilter"))->clear();
        dialog->refresh();
        QCOMPARE(table->rowCount(), 3);

        const QString csv = m_dir.filePath(QStringLiteral("history.csv"));
        dialog->setSaveFileChooser([&](QWidget *) { return csv; });
        QString told;
        QTimer::singleShot(0, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            QVERIFY(box);
            told = box->text();
            box->accept();
        });
        dialog->exportCsv();
        QVERIFY2(told.contains(QDir::toNativeSeparators(csv)), qPrintable(told));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"
                                 "查询时间,买家名称,"));
        QCOMPARE(bytes.count('\n'), 4);
        QVERIFY(bytes.contains(QStringLiteral(",xiaoyu_2008,小宇,").toUtf8()));
        // Whatever name is picked, the export never lands on the database.
        QString error;
        QVERIFY(!dialog->exportTo(m_db->path(), &error));
        // Named in the user's language: Chinese, English under LANG=en*.
        QVERIFY2(error.contains(QStringLiteral("数据库")) ||
                     error.contains(QStringLiteral("database")),
                 qPrintable(error));
        QFile database(m_db->path());
        QVERIFY(database.open(QIODevice::ReadOnly));
        QVERIFY(database.read(16).startsWith("SQLite format 3"));
    }

    // The keyboard's way to the menu (Shift+F10, the Menu key) and the note dialog's Ctrl+Enter,
    // which confirms where Enter is a new line.
    void keyboardMenuAndNote_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
        QTest::newRow("Menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier);
    }
    void keyboardMenuAndNote()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        auto w = makeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        query(w.get(), QStringLiteral("tom.wang"));
        w->activateWindow();
        QTest::keyClick(w->findChild<QLineEdit *>(QStringLiteral("Text2")), Qt::Key(key),
                        Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(w->resultMenu() && w->resultMenu()->isVisible());
        QMenu *menu = w->resultMenu();
        QStringList texts;
        for (QAction *a : menu->actions())
            texts.append(a->text());
        for (const char *text : {"加入黑名单…", "备注…", "信任", "查询历史…", "总在最前"})
            QVERIFY2(texts.contains(QString::fromUtf8(text)), qPrintable(texts.join(u'|')));
        QAction *note = menu->actions().at(texts.indexOf(QStringLiteral("备注…")));
        menu->close();
        // Typed into once it is up: two lines, then Ctrl+Enter.
        bool typed = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            QInputDialog *dialog = nullptr;
            for (QWidget *top : QApplication::topLevelWidgets())
                if (auto *d = qobject_cast<QInputDialog *>(top); d && d->isVisible())
                    dialog = d;
            auto *edit = dialog ? dialog->findChild<QPlainTextEdit *>() : nullptr;
            if (!edit || typed)
                return;
            typed = true;
            dialog->activateWindow();
            edit->setFocus();
            edit->insertPlainText(QStringLiteral("第一行"));
            QTest::keyClick(edit, Qt::Key_Return);
            edit->insertPlainText(QStringLiteral("第二行"));
            QTest::keyClick(edit, Qt::Key_Return, Qt::ControlModifier);
            if (dialog->isVisible()) // the shortcut did not confirm: end the wait all the same
                dialog->reject();
        });
        poll.start(20);
        note->trigger();
        QCOMPARE(m_db->note(QStringLiteral("tom.wang")).note, QStringLiteral("第一行\n第二行"));
    }

    // The history dialog deletes the rows picked (after a question), keeps to a span of days,
    // and looks a buyer up again on a double-click.
    void historyDeleteDaysAndAgain()
    {
        BuyerQueryResult old;
        old.record.buyerId = QStringLiteral("old.buyer");
        QVERIFY(m_db->addLookup(old, QDateTime(QDate(2026, 1, 5), QTime(9, 0))));
        auto w = makeWindow();
        w->show();
        for (const char *id : {"tom.wang", "xiaoyu_2008"})
            query(w.get(), QLatin1String(id));
        w->showHistory(QString());
        auto *dialog = w->findChild<HistoryDialog *>();
        auto *table = dialog->findChild<QTableWidget *>(QStringLiteral("HistoryTable"));
        QCOMPARE(table->rowCount(), 3);
        dialog->setDays(QDate(2026, 1, 5), QDate(2026, 1, 5));
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("old.buyer"));
        dialog->setDays(QDate(2026, 1, 6), QDate::currentDate());
        QCOMPARE(table->rowCount(), 2);

        // The question answered no, then yes: only then is the row gone.
        table->selectRow(1); // xiaoyu_2008 is the newer, tom.wang the older
        const QString deleted = table->item(1, 1)->text();
        auto *remove = dialog->findChild<QPushButton *>(QStringLiteral("HistoryDelete"));
        QVERIFY(remove->isEnabled());
        for (const QMessageBox::StandardButton answer : {QMessageBox::Cancel, QMessageBox::Yes}) {
            QTimer::singleShot(0, this, [answer] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                QVERIFY(box);
                box->button(answer)->click();
            });
            remove->click();
        }
        QCOMPARE(m_db->lookupCount(), qint64(2));
        QCOMPARE(table->rowCount(), 1);
        QVERIFY(table->item(0, 1)->text() != deleted);

        // The dialog makes way for the result, and has the new lookup when opened again.
        const QString again = table->item(0, 1)->text();
        const QPointer<HistoryDialog> open(dialog);
        dialog->setDays({}, {});
        const int rows = table->rowCount();
        emit table->cellDoubleClicked(0, 1);
        QVERIFY(w->queryRunning());
        QVERIFY(QTest::qWaitFor([&] { return !w->queryRunning(); }, 60000));
        QCOMPARE(w->shownOutcome()->id, again);
        QTRY_VERIFY(!open || !open->isVisible());
        w->showHistory(QString());
        table = w->findChild<HistoryDialog *>()->findChild<QTableWidget *>(
            QStringLiteral("HistoryTable"));
        QCOMPARE(table->rowCount(), rows + 1);
        QCOMPARE(table->item(0, 1)->text(), again);
    }

    // The shared blacklist's file from the window: imported with the command line's account of
    // it (refused lines under the details), exported with where it went.
    void blacklistFiles()
    {
        auto w = makeWindow();
        const QString in = m_dir.filePath(QStringLiteral("shared.csv"));
        QFile file(in);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("id,reason,date\nann,拒收,2026-11-02\n,no id,\n");
        file.close();
        QStringList told;
        QString details;
        const auto answer = [&] {
            QTimer::singleShot(0, this, [&] {
                auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                QVERIFY(box);
                told.append(box->text());
                details = box->detailedText();
                box->accept();
            });
        };
        answer();
        QVERIFY(importBlacklistFile(w.get(), m_db.get(), in));
        QCOMPARE(m_db->note(QStringLiteral("ann")).listed, ListMark::Blacklist);
        QVERIFY2(told.last().contains(QStringLiteral("新增 1 个")) &&
                     told.last().contains(QStringLiteral("拒绝 1 个")),
                 qPrintable(told.last()));
        QVERIFY(!details.isEmpty());

        const QString out = m_dir.filePath(QStringLiteral("exported.csv"));
        answer();
        exportBlacklistFile(w.get(), m_db.get(), out);
        QVERIFY2(told.last().contains(out), qPrintable(told.last()));
        QFile written(out);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("ann"));
    }

    void batchMarksBlacklistedRows()
    {
        blacklist(QStringLiteral("tom.wang"), QStringLiteral("拒收"));
        const QString ids = m_dir.filePath(QStringLiteral("ids.txt"));
        QFile f(ids);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("xiaoyu_2008\ntom.wang\n");
        f.close();
        auto w = makeWindow();
        w->setIdFileChooser([&](QWidget *) { return ids; });
        m_tables.clear();
        w->runBatch();
        QVERIFY(QTest::qWaitFor([&] { return !w->batchRunning(); }, 60000));
        QCOMPARE(m_tables.size(), 1);
        const XlsxSheet sheet = readXlsxSheet(m_tables.at(0));
        QCOMPARE(sheet.cells.value(QStringLiteral("A3")).value, QStringLiteral("tom.wang"));
        QVERIFY(sheet.cells.value(QStringLiteral("A3")).style !=
                sheet.cells.value(QStringLiteral("A2")).style);
        QCOMPARE(m_db->lookupCount(), qint64(2));
        QFile::remove(m_tables.at(0));
    }

    // The review queue's list: the selected orders marked handled, with the note, leave it.
    void reviewQueueList()
    {
        SellerDatabase db;
        QVERIFY(db.open(m_dir.filePath(QStringLiteral("review.sqlite"))));
        ReviewEntry e;
        e.buyerId = QStringLiteral("tom.wang");
        e.reasons = {QStringLiteral("在黑名单中：收货后退款")};
        e.orderNumber = QStringLiteral("1002");
        ReviewEntry other = e;
        other.orderNumber = QStringLiteral("1003");
        QVERIFY(db.queueForReview({e, other}));
        ReviewDialog dialog(&db);
        dialog.setNotePrompt([](QWidget *, QString *note) {
            *note = QStringLiteral("电话确认过");
            return true;
        });
        QSignalSpy changed(&dialog, &ReviewDialog::queueChanged);
        auto *table = dialog.findChild<QTableWidget *>(QStringLiteral("ReviewTable"));
        QCOMPARE(table->rowCount(), 2);
        table->selectRow(0);
        dialog.findChild<QPushButton *>(QStringLiteral("ReviewHandled"))->click();
        QCOMPARE(changed.size(), 1);
        QCOMPARE(table->rowCount(), 1);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("1003"));
        const QList<ReviewEntry> all = db.reviewQueue(true);
        QCOMPARE(all.last().note, QStringLiteral("电话确认过"));
        QVERIFY(all.last().isHandled());
    }
};

QTEST_MAIN(TestSellerWindow)
#include "test_sellerwindow.moc"
