#pragma once

#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>

// The library's controls for Qt Designer: Veilix, VeilixButton (with "Border Size..." in its task
// menu) and VeilixDragBar.
class VeilixControlPlugins final : public QObject, public QDesignerCustomWidgetCollectionInterface
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface")
    Q_INTERFACES(QDesignerCustomWidgetCollectionInterface)
public:
    explicit VeilixControlPlugins(QObject *parent = nullptr);
    QList<QDesignerCustomWidgetInterface *> customWidgets() const override { return m_widgets; }

private:
    QList<QDesignerCustomWidgetInterface *> m_widgets;
};
