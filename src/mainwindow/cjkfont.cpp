#include "mainwindow/cjkfont.h"

#include <QFontDatabase>
#include <QStringList>

QFont cjkFont(int pixelSize)
{
    static const QString family = [] {
        const QStringList candidates = {
            QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
            QStringLiteral("Noto Sans CJK SC"), QStringLiteral("WenQuanYi Micro Hei")};
        for (const QString &name : candidates) {
            if (QFontDatabase::hasFamily(name))
                return name;
        }
        return QString();
    }();
    QFont font;
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPixelSize(pixelSize);
    return font;
}
