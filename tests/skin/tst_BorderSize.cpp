#include "tests/skin/SkinTestUtil.h"

#include "VeilixControl/BorderSize.h"
#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/OleColor.h"
#include "VeilixControl/VeilixButton.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace SkinTest;

class tst_BorderSize final : public QObject
{
    Q_OBJECT
private slots:
    void design()
    {
        BorderSize page;
        QCOMPARE(page.lblBorder->text(), QStringLiteral("Border Width: (pixels)"));
        QCOMPARE(page.lblBorderWidth->text(), QStringLiteral("10"));
        QCOMPARE(page.butAddMinus[0]->text(), QStringLiteral("-"));
        QCOMPARE(page.butAddMinus[1]->text(), QStringLiteral("+"));
        QCOMPARE(page.butAddMinus[0]->accessibleName(), QStringLiteral("Decrease border width"));
        QCOMPARE(page.butAddMinus[1]->accessibleName(), QStringLiteral("Increase border width"));
        QCOMPARE(page.picBorder->objectName(), QStringLiteral("picBorder"));
        QVERIFY(!page.changed());
    }

    void selectionShowsTheFirstButtonsBorder()
    {
        VeilixButton a, b;
        a.setBorderWidth(4);
        b.setBorderWidth(7);
        BorderSize page;
        page.setSelectedControls({ &a, &b });
        QCOMPARE(page.lblBorderWidth->text(), QStringLiteral("4"));
        QVERIFY(page.changed());
    }

    void minusStopsAtOne()
    {
        VeilixButton a;
        a.setBorderWidth(2);
        BorderSize page;
        page.setSelectedControls({ &a });
        page.butAddMinus[0]->click();
        QCOMPARE(page.lblBorderWidth->text(), QStringLiteral("1"));
        page.butAddMinus[0]->click();
        QCOMPARE(page.lblBorderWidth->text(), QStringLiteral("1"));
    }

    void plusStopsAtHalfThePreviewHeight()
    {
        VeilixButton a;
        a.setBorderWidth(29);
        BorderSize page;
        page.setSelectedControls({ &a });
        QCOMPARE(page.picBorder->ScaleHeight(), 64);
        for (int i = 0; i < 5; ++i)
            page.butAddMinus[1]->click();
        QCOMPARE(page.lblBorderWidth->text(), QStringLiteral("31")); // 64 / 2 - 1
        QCOMPARE(a.BorderWidth(), 29); // nothing applied yet
    }

    void smallPictureLowersTheShownValue()
    {
        VeilixButton a;
        a.setPictureNormal(VeilixPicture(solid(40, 12, 0xFF336699)));
        a.setBorderWidth(10);
        BorderSize page;
        page.setSelectedControls({ &a });
        QCOMPARE(page.lblBorderWidth->text(), QStringLiteral("5"));
    }

    void previewDrawsPictureAndGuideLines()
    {
        VeilixButton a;
        a.setPictureNormal(VeilixPicture(solid(40, 40, 0xFF336699)));
        a.setBorderWidth(5);
        BorderSize page;
        page.setSelectedControls({ &a });
        const QImage img = page.picBorder->image();
        const int W = img.width(), H = img.height();
        const QRgb line = OleColor::toQColor(OleColor::ButtonText, page.picBorder->palette()).rgb();
        QCOMPARE(img.pixel(5, H / 2), line);
        QCOMPARE(img.pixel(W - 6, H / 2), line);
        QCOMPARE(img.pixel(W / 2, 5), line);
        QCOMPARE(img.pixel(W / 2, H - 6), line);
        QCOMPARE(img.pixel(20, 20), QRgb(0xFF336699)); // the picture under the lines
    }

    void selectionWithTheShownNumberIsPreviewed()
    {
        VeilixButton a;
        a.setPictureNormal(VeilixPicture(solid(40, 40, 0xFF336699)));
        QCOMPARE(a.BorderWidth(), 10);
        BorderSize page;
        page.setSelectedControls({ &a });
        QCOMPARE(page.picBorder->image().pixel(20, 20), QRgb(0xFF336699));
        QVERIFY(page.changed());
    }

    void applyChangesOnlyTheFirst()
    {
        VeilixButton a, b;
        a.setBorderWidth(4);
        b.setBorderWidth(4);
        BorderSize page;
        page.setSelectedControls({ &a, &b });
        page.butAddMinus[1]->click();
        page.butAddMinus[1]->click();
        page.ApplyChanges();
        QCOMPARE(a.BorderWidth(), 6);
        QCOMPARE(b.BorderWidth(), 4);
    }

    void withoutSelectionTheNumberStillChanges()
    {
        BorderSize page;
        page.Preview();
        page.butAddMinus[1]->click();
        QCOMPARE(page.lblBorderWidth->text(), QStringLiteral("11"));
        page.butAddMinus[0]->click();
        page.butAddMinus[0]->click();
        QCOMPARE(page.lblBorderWidth->text(), QStringLiteral("9"));
        QVERIFY(!page.changed()); // no preview ran
        page.ApplyChanges(); // nothing to apply to
    }

    void deletedButtonIsDropped()
    {
        BorderSize page;
        auto *a = new VeilixButton;
        page.setSelectedControls({ a });
        delete a;
        QVERIFY(page.selectedControls().isEmpty());
        page.ApplyChanges();
        page.butAddMinus[1]->click();
    }
};

QTEST_MAIN(tst_BorderSize)
#include "tst_BorderSize.moc"
