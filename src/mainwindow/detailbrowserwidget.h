#pragma once

#include "buyerquery.h"

#include <QWidget>

// The main window's hidden page loader (WebBrowser1). This build carries no embedded browser, so
// it reads nothing: the detail page then comes from the plain fetch alone.
class DetailBrowserWidget : public QWidget, public DetailPageBrowser
{
    Q_OBJECT
public:
    explicit DetailBrowserWidget(QWidget *parent = nullptr) : QWidget(parent) {}

    QString loadBodyHtml(const QString &) override { return {}; }
};
