#include "VeilixButtonTaskMenu.h"

#include "VeilixControl/BorderSize.h"
#include "VeilixControl/VeilixButton.h"

#include <QtDesigner/QDesignerFormWindowCursorInterface>
#include <QtDesigner/QDesignerFormWindowInterface>

#include <QAction>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QVBoxLayout>

VeilixButtonTaskMenu::VeilixButtonTaskMenu(VeilixButton *button, QObject *parent)
    : QObject(parent)
    , m_button(button)
    , m_editAction(new QAction(actionText(), this))
{
    connect(m_editAction, &QAction::triggered, this, &VeilixButtonTaskMenu::openPage);
}

QAction *VeilixButtonTaskMenu::preferredEditAction() const
{
    return m_editAction;
}

QList<QAction *> VeilixButtonTaskMenu::taskActions() const
{
    return { m_editAction };
}

void VeilixButtonTaskMenu::openPage()
{
    if (!m_button)
        return;
    QDesignerFormWindowInterface *formWindow = QDesignerFormWindowInterface::findFormWindow(m_button);
    QList<VeilixButton *> selection { m_button };
    if (formWindow) {
        QDesignerFormWindowCursorInterface *cursor = formWindow->cursor();
        for (int i = 0; i < cursor->selectedWidgetCount(); ++i) {
            auto *b = qobject_cast<VeilixButton *>(cursor->selectedWidget(i));
            if (b && b != m_button)
                selection.append(b);
        }
    }

    auto *dialog = new QDialog(formWindow ? static_cast<QWidget *>(formWindow) : m_button->window());
    dialog->setObjectName(QStringLiteral("BorderSizeDialog"));
    dialog->setWindowTitle(QStringLiteral("Border Size"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto *page = new BorderSize(dialog);
    auto *buttons
        = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Apply | QDialogButtonBox::Cancel, dialog);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(page);
    layout->addWidget(buttons);
    page->setSelectedControls(selection);

    QPointer<VeilixButton> first = m_button;
    QPointer<QDesignerFormWindowInterface> fw = formWindow;
    auto apply = [page, first, fw]() {
        page->ApplyChanges();
        if (first && fw) // let Designer record the change (undo, property editor, saving)
            fw->cursor()->setWidgetProperty(first, QStringLiteral("BorderWidth"), first->BorderWidth());
        page->setChanged(false);
    };
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, dialog, apply);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [dialog, apply]() {
        apply();
        dialog->accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    dialog->open(); // window-modal, returns at once
}

VeilixButtonTaskMenuFactory::VeilixButtonTaskMenuFactory(QExtensionManager *manager, QObject *parent)
    : QExtensionFactory(manager)
{
    setParent(parent);
}

QObject *VeilixButtonTaskMenuFactory::createExtension(QObject *object, const QString &iid, QObject *parent) const
{
    if (iid != QLatin1String(Q_TYPEID(QDesignerTaskMenuExtension)))
        return nullptr;
    if (auto *button = qobject_cast<VeilixButton *>(object))
        return new VeilixButtonTaskMenu(button, parent);
    return nullptr;
}
