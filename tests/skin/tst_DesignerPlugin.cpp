#include "VeilixControl/BorderSize.h"
#include "VeilixControl/Veilix.h"
#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"

#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerTaskMenuExtension>
#include <QtDesigner/QExtensionManager>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPluginLoader>
#include <QPushButton>
#include <QTest>
#include <QXmlStreamReader>

namespace {

// A design environment with only what the plugin needs: an extension manager.
class FakeCore final : public QDesignerFormEditorInterface
{
public:
    FakeCore() { setExtensionManager(new QExtensionManager(this)); }
};

} // namespace

class tst_DesignerPlugin final : public QObject
{
    Q_OBJECT
private:
    QPluginLoader m_loader { QStringLiteral(VEILIX_DESIGNER_PLUGIN) };
    QDesignerCustomWidgetCollectionInterface *m_collection = nullptr;

    QDesignerCustomWidgetInterface *widget(const QString &name) const
    {
        for (QDesignerCustomWidgetInterface *w : m_collection->customWidgets()) {
            if (w->name() == name)
                return w;
        }
        return nullptr;
    }

private slots:
    void initTestCase()
    {
        QObject *instance = m_loader.instance();
        QVERIFY2(instance, qPrintable(m_loader.errorString()));
        m_collection = qobject_cast<QDesignerCustomWidgetCollectionInterface *>(instance);
        QVERIFY(m_collection);
    }

    void listsTheThreeControls()
    {
        QStringList names;
        for (QDesignerCustomWidgetInterface *w : m_collection->customWidgets()) {
            names << w->name();
            QCOMPARE(w->group(), QStringLiteral("VeilixControl"));
            QCOMPARE(w->includeFile(), QStringLiteral("VeilixControl/") + w->name() + QStringLiteral(".h"));
            QXmlStreamReader xml(w->domXml());
            while (!xml.atEnd())
                xml.readNext();
            QVERIFY2(!xml.hasError(), qPrintable(w->name()));
            QVERIFY(w->domXml().contains(QStringLiteral("class=\"") + w->name() + QStringLiteral("\"")));
        }
        QCOMPARE(names,
            (QStringList {
                QStringLiteral("Veilix"), QStringLiteral("VeilixButton"), QStringLiteral("VeilixDragBar") }));
    }

    void createsTheControls()
    {
        QWidget form;
        QWidget *v = widget(QStringLiteral("Veilix"))->createWidget(&form);
        QVERIFY(qobject_cast<Veilix *>(v));
        QVERIFY(qobject_cast<Veilix *>(v)->designMode());
        QVERIFY(qobject_cast<VeilixButton *>(widget(QStringLiteral("VeilixButton"))->createWidget(&form)));
        QVERIFY(qobject_cast<VeilixDragBar *>(widget(QStringLiteral("VeilixDragBar"))->createWidget(&form)));
    }

    void buttonTaskMenuOpensTheBorderSizePage()
    {
        FakeCore core;
        for (QDesignerCustomWidgetInterface *w : m_collection->customWidgets())
            w->initialize(&core);
        QWidget form;
        auto *button = qobject_cast<VeilixButton *>(widget(QStringLiteral("VeilixButton"))->createWidget(&form));
        button->setBorderWidth(3);
        auto *menu = qt_extension<QDesignerTaskMenuExtension *>(core.extensionManager(), button);
        QVERIFY(menu);
        const QList<QAction *> actions = menu->taskActions();
        QCOMPARE(actions.size(), 1);
        QCOMPARE(actions.first()->text(), QStringLiteral("Border Size..."));
        auto *bar = qobject_cast<VeilixDragBar *>(widget(QStringLiteral("VeilixDragBar"))->createWidget(&form));
        QVERIFY(!qt_extension<QDesignerTaskMenuExtension *>(core.extensionManager(), bar));

        actions.first()->trigger();
        auto *dialog = form.findChild<QDialog *>(QStringLiteral("BorderSizeDialog"));
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        auto *page = dialog->findChild<BorderSize *>();
        QVERIFY(page);
        QCOMPARE(page->lblBorderWidth->text(), QStringLiteral("3"));
        page->butAddMinus[1]->click();
        QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
        for (QPushButton *b : buttons) {
            if (b->text().remove(QLatin1Char('&')) == QStringLiteral("OK"))
                b->click();
        }
        QCOMPARE(button->BorderWidth(), 4);
    }
};

QTEST_MAIN(tst_DesignerPlugin)
#include "tst_DesignerPlugin.moc"
