#include "mainwindow/accessibility.h"

#include "mainwindow/clicklabel.h"
#include "mainwindow/riskverdictview.h"

#include <QAccessibleWidget>
#include <QComboBox>
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

// A ClickLabel: a link when it takes the focus, else a line of text; named by its text. The role
// is asked each time: a screen reader that is already running meets the label as it is made,
// before its focus policy is set. A tooltip that only repeats the text is no description.
class LinkLabel : public QAccessibleWidget
{
public:
    explicit LinkLabel(ClickLabel *label) : QAccessibleWidget(label, QAccessible::StaticText)
    {
        addControllingSignal(QStringLiteral("clicked()"));
    }
    QAccessible::Role role() const override
    {
        return isLink() ? QAccessible::Link : QAccessible::StaticText;
    }
    QString text(QAccessible::Text t) const override
    {
        const auto *label = static_cast<ClickLabel *>(widget());
        switch (t) {
        case QAccessible::Name:
            return label->accessibleName().isEmpty() ? label->text() : label->accessibleName();
        case QAccessible::Description:
            if (label->accessibleDescription().isEmpty() &&
                label->toolTip() == text(QAccessible::Name))
                return {};
            break;
        default:
            break;
        }
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override
    {
        return isLink() ? QStringList{pressAction()} : QStringList();
    }
    void doAction(const QString &name) override
    {
        if (isLink() && name == pressAction() && widget()->isEnabled())
            emit static_cast<ClickLabel *>(widget())->clicked();
    }

private:
    bool isLink() const { return widget()->focusPolicy() != Qt::NoFocus; }
};

// The buyer's verdict: a label to read, whose name says the verdict and whose description gives
// the reasons (set by the view itself), and which the focus reaches.
class VerdictLabel : public QAccessibleWidget
{
public:
    explicit VerdictLabel(QWidget *view) : QAccessibleWidget(view, QAccessible::StaticText) {}
};

// A list box named by what it sets. Qt names a combo box after its current item on Linux (where
// it leaves the label to a relation), so a reader hears "自动识别" and not what it chooses.
class NamedComboBox : public QAccessibleWidget
{
public:
    explicit NamedComboBox(QComboBox *box) : QAccessibleWidget(box, QAccessible::ComboBox) {}
    QString text(QAccessible::Text t) const override
    {
        const auto *box = static_cast<QComboBox *>(widget());
        if (t == QAccessible::Name)
            return box->accessibleName();
        if (t == QAccessible::Value)
            return box->currentText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString &name) override
    {
        if ((name == showMenuAction() || name == pressAction()) && widget()->isEnabled())
            static_cast<QComboBox *>(widget())->showPopup();
    }
};

QAccessibleInterface *accessibleFor(const QString &, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (widget->property(kHasInternal).toBool())
        return new FilteredPanel(widget);
    if (auto *label = qobject_cast<ClickLabel *>(widget))
        return new LinkLabel(label);
    if (qobject_cast<RiskVerdictView *>(widget))
        return new VerdictLabel(widget);
    if (auto *box = qobject_cast<QComboBox *>(widget);
        box && !box->isEditable() && !box->accessibleName().isEmpty())
        return new NamedComboBox(box);
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
    QWidget *parent = widget->parentWidget();
    if (!parent || parent->property(kHasInternal).toBool())
        return;
    parent->setProperty(kHasInternal, true);
    // A screen reader already running may have met the parent as it was made: its interface
    // then lists every child. Dropped, the next query makes the filtering one.
    if (QAccessible::isActive()) {
        if (QAccessibleInterface *made = QAccessible::queryAccessibleInterface(parent))
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}
