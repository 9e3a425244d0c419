#include "mainwindow/accessibility.h"

#include "mainwindow/clicklabel.h"

#include <QAccessibleWidget>
#include <QGroupBox>
#include <QMenu>

namespace {

const char kInternal[] = "brelvonInternal";
const char kHasInternal[] = "brelvonHasInternal";

// A panel whose children include internal controls: they are left out of its children.
class FilteredPanel : public QAccessibleWidget
{
public:
    explicit FilteredPanel(QWidget *widget)
        : QAccessibleWidget(widget, widget->isWindow()                  ? QAccessible::Window
                                    : qobject_cast<QGroupBox *>(widget) ? QAccessible::Grouping
                                                                        : QAccessible::Pane)
    {
    }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) {
            if (auto *box = qobject_cast<QGroupBox *>(widget()))
                return box->title();
        }
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return int(shownChildren().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> children = shownChildren();
        if (index < 0 || index >= children.size())
            return nullptr;
        return QAccessible::queryAccessibleInterface(children.at(index));
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        if (!child)
            return -1;
        return int(shownChildren().indexOf(qobject_cast<QWidget *>(child->object())));
    }

private:
    QList<QWidget *> shownChildren() const
    {
        QList<QWidget *> list;
        for (QObject *object : widget()->children()) {
            auto *w = qobject_cast<QWidget *>(object);
            if (w && !w->isWindow() && !qobject_cast<QMenu *>(w) &&
                !w->property(kInternal).toBool())
                list.append(w);
        }
        return list;
    }
};

// A label that acts as a link: named by its text, pressed by the reader's action.
class LinkLabel : public QAccessibleWidget
{
public:
    explicit LinkLabel(ClickLabel *label) : QAccessibleWidget(label, QAccessible::Link)
    {
        addControllingSignal(QStringLiteral("clicked()"));
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<ClickLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        if (name == pressAction() && widget()->isEnabled())
            emit static_cast<ClickLabel *>(widget())->clicked();
    }
};

QAccessibleInterface *accessibleFor(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (widget->property(kHasInternal).toBool())
        return new FilteredPanel(widget);
    if (auto *label = qobject_cast<ClickLabel *>(widget);
        label && label->focusPolicy() != Qt::NoFocus)
        return new LinkLabel(label);
    return nullptr;
}

} // namespace

void installAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    Q_UNUSED(installed);
}

void markInternal(QWidget *widget)
{
    widget->setProperty(kInternal, true);
    if (QWidget *parent = widget->parentWidget())
        parent->setProperty(kHasInternal, true);
}
