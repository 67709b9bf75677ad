#include "VeilixAccessible.h"

#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/VeilixButton.h"

#include <QAccessibleWidget>

namespace {

// The skinned button as a push button: named by its caption, pressable, without children (its
// drawing surface is part of it, not a control of its own).
class VeilixButtonAccessible final : public QAccessibleWidget
{
public:
    explicit VeilixButtonAccessible(VeilixButton *button)
        : QAccessibleWidget(button, QAccessible::Button)
    { }

    VeilixButton *button() const { return static_cast<VeilixButton *>(object()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) {
            const QString name = button()->accessibleName();
            return name.isEmpty() ? button()->Caption() : name;
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = button()->state() == VeilixButton::Down;
        return s;
    }

    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QStringList actionNames() const override { return QAccessibleWidget::actionNames() << pressAction(); }
    void doAction(const QString &actionName) override
    {
        if (actionName == pressAction() && button()->isEnabled())
            button()->accessiblePress();
        else
            QAccessibleWidget::doAction(actionName);
    }
    QStringList keyBindingsForAction(const QString &actionName) const override
    {
        if (actionName == pressAction())
            return { QStringLiteral("Space") };
        return QAccessibleWidget::keyBindingsForAction(actionName);
    }
};

// The button's drawing surface picBut: it holds the focus, so a screen reader that follows the
// focus meets it; it answers as the button it belongs to and stands in the button's place.
class VeilixSurfaceAccessible final : public QAccessibleWidget
{
public:
    explicit VeilixSurfaceAccessible(QWidget *surface)
        : QAccessibleWidget(surface, QAccessible::Button)
    { }

    QAccessibleInterface *owner() const { return QAccessible::queryAccessibleInterface(widget()->parentWidget()); }

    QString text(QAccessible::Text t) const override { return owner()->text(t); }
    QAccessible::State state() const override { return owner()->state(); }
    QAccessibleInterface *parent() const override { return owner()->parent(); }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QStringList actionNames() const override { return owner()->actionInterface()->actionNames(); }
    void doAction(const QString &actionName) override { owner()->actionInterface()->doAction(actionName); }
    QStringList keyBindingsForAction(const QString &actionName) const override
    {
        return owner()->actionInterface()->keyBindingsForAction(actionName);
    }
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    if (className == QLatin1String("VeilixButton")) {
        if (auto *button = qobject_cast<VeilixButton *>(object))
            return new VeilixButtonAccessible(button);
    } else if (className == QLatin1String("DrawSurface")) {
        auto *surface = qobject_cast<DrawSurface *>(object);
        if (surface && qobject_cast<VeilixButton *>(surface->parentWidget())
            && static_cast<VeilixButton *>(surface->parentWidget())->picBut() == surface)
            return new VeilixSurfaceAccessible(surface);
    }
    return nullptr;
}

} // namespace

namespace VeilixInternal {

void installAccessibleFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

} // namespace VeilixInternal
