#pragma once

#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionFactory>

#include <QPointer>

class QAction;
class VeilixButton;

// "Border Size..." in the task menu of a VeilixButton on a form: opens the BorderSize page for the
// selected buttons (the one clicked first).
class VeilixButtonTaskMenu final : public QObject, public QDesignerTaskMenuExtension
{
    Q_OBJECT
    Q_INTERFACES(QDesignerTaskMenuExtension)
public:
    VeilixButtonTaskMenu(VeilixButton *button, QObject *parent);

    QAction *preferredEditAction() const override;
    QList<QAction *> taskActions() const override;

    static QString actionText() { return QStringLiteral("Border Size..."); }

private:
    void openPage();

    QPointer<VeilixButton> m_button;
    QAction *m_editAction;
};

class VeilixButtonTaskMenuFactory final : public QExtensionFactory
{
    Q_OBJECT
public:
    VeilixButtonTaskMenuFactory(QExtensionManager *manager, QObject *parent);

protected:
    QObject *createExtension(QObject *object, const QString &iid, QObject *parent) const override;
};
