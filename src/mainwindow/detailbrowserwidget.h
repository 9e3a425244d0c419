#pragma once

#include <QWidget>

#include <functional>

// The main window's hidden page loader (WebBrowser1), on the window's thread. This build carries
// no embedded browser, so it reads nothing: the detail page then comes from the plain fetch alone.
class DetailBrowserWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DetailBrowserWidget(QWidget *parent = nullptr) : QWidget(parent) {}

    // Loads the address and hands the document body's HTML to `done` once the page is complete
    // or its wait has run out ("" when nothing could be read). Never blocks.
    virtual void load(const QString &address, std::function<void(const QString &html)> done)
    {
        Q_UNUSED(address);
        done(QString());
    }
};
