#pragma once

#include <QWidget>

class QTextBrowser;

// The help: the program's own Chinese pages (HTML with pictures, shipped in the help folder),
// read offline in a text browser with a row of contents above it. Pictures come at twice their
// size as well ("name@2x.png") and are shown sharp on a screen of either scale. Esc closes it;
// it opens within the screen's work area. A top-level window without an owner, discarded when
// closed.
class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // The folder holding the pages: "help" beside the program, else the installed copy.
    static QString helpFolder();
    // Shows a page of the folder, with an optional anchor ("batch.html", "desk.html#lines");
    // empty: the contents page.
    void showPage(const QString &page);
    QTextBrowser *browser() const { return m_browser; }

private:
    QTextBrowser *m_browser;
};
