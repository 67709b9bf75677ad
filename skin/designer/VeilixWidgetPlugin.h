#pragma once

#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include <functional>

// One control of the library as Qt Designer sees it: its name, header, group and how to make it.
class VeilixWidgetPlugin final : public QObject, public QDesignerCustomWidgetInterface
{
    Q_OBJECT
    Q_INTERFACES(QDesignerCustomWidgetInterface)
public:
    using Factory = std::function<QWidget *(QWidget *parent)>;
    using Initializer = std::function<void(QDesignerFormEditorInterface *core, QObject *owner)>;

    VeilixWidgetPlugin(const QString &name, const QString &toolTip, const QString &domXml, Factory factory,
        Initializer initializer, QObject *parent);

    QString name() const override { return m_name; }
    QString group() const override { return QStringLiteral("VeilixControl"); }
    QString toolTip() const override { return m_toolTip; }
    QString whatsThis() const override { return m_toolTip; }
    QString includeFile() const override { return QStringLiteral("VeilixControl/") + m_name + QStringLiteral(".h"); }
    QIcon icon() const override { return {}; }
    bool isContainer() const override { return false; }
    QWidget *createWidget(QWidget *parent) override { return m_factory(parent); }
    bool isInitialized() const override { return m_initialized; }
    void initialize(QDesignerFormEditorInterface *core) override;
    QString domXml() const override { return m_domXml; }

private:
    QString m_name;
    QString m_toolTip;
    QString m_domXml;
    Factory m_factory;
    Initializer m_initializer;
    bool m_initialized = false;
};
