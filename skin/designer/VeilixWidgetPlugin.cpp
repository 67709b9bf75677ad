#include "VeilixWidgetPlugin.h"

VeilixWidgetPlugin::VeilixWidgetPlugin(const QString &name, const QString &toolTip, const QString &domXml,
    Factory factory, Initializer initializer, QObject *parent)
    : QObject(parent)
    , m_name(name)
    , m_toolTip(toolTip)
    , m_domXml(domXml)
    , m_factory(std::move(factory))
    , m_initializer(std::move(initializer))
{ }

void VeilixWidgetPlugin::initialize(QDesignerFormEditorInterface *core)
{
    if (m_initialized)
        return;
    if (m_initializer)
        m_initializer(core, this);
    m_initialized = true;
}
