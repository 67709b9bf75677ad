#include "VeilixControlPlugins.h"

#include "VeilixButtonTaskMenu.h"
#include "VeilixWidgetPlugin.h"

#include "VeilixControl/Veilix.h"
#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"

#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QExtensionManager>

namespace {

QString dom(const QString &className, const QString &name, int width, int height)
{
    return QStringLiteral("<ui language=\"c++\"><widget class=\"%1\" name=\"%2\">"
                          "<property name=\"geometry\"><rect><x>0</x><y>0</y><width>%3</width>"
                          "<height>%4</height></rect></property></widget></ui>")
        .arg(className, name)
        .arg(width)
        .arg(height);
}

} // namespace

VeilixControlPlugins::VeilixControlPlugins(QObject *parent)
    : QObject(parent)
{
    m_widgets.append(new VeilixWidgetPlugin(
        QStringLiteral("Veilix"),
        QStringLiteral("Skins its window: background picture, window shape from a mask picture."),
        dom(QStringLiteral("Veilix"), QStringLiteral("veilix"), 32, 32),
        [](QWidget *host) {
            auto *w = new Veilix(host);
            w->setDesignMode(true);
            return static_cast<QWidget *>(w);
        },
        {}, this));
    m_widgets.append(new VeilixWidgetPlugin(
        QStringLiteral("VeilixButton"), QStringLiteral("A very customizable CommandButton substitute."),
        dom(QStringLiteral("VeilixButton"), QStringLiteral("veilixButton"), 117, 45),
        [](QWidget *host) { return static_cast<QWidget *>(new VeilixButton(host)); },
        [](QDesignerFormEditorInterface *core, QObject *owner) {
            if (QExtensionManager *manager = core ? core->extensionManager() : nullptr)
                manager->registerExtensions(
                    new VeilixButtonTaskMenuFactory(manager, owner), Q_TYPEID(QDesignerTaskMenuExtension));
        },
        this));
    m_widgets.append(new VeilixWidgetPlugin(
        QStringLiteral("VeilixDragBar"), QStringLiteral("A substitute TitleBar for forms using the Veilix control."),
        dom(QStringLiteral("VeilixDragBar"), QStringLiteral("veilixDragBar"), 145, 18),
        [](QWidget *host) { return static_cast<QWidget *>(new VeilixDragBar(host)); }, {}, this));
}
