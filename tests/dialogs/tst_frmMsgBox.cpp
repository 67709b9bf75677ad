// The program's skinned message box: the defaults, the result of each button, the beep, the
// window kept between calls, and the keyboard (Tab between the skinned buttons, Escape, Enter).
#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"
#include "dialogs/frmMsgBox.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

namespace {

struct Answer
{
    QList<qint16> results;
    frmMsgBox::ResultFn fn()
    {
        return [this](qint16 r) { results << r; };
    }
};

void ask(frmMsgBox &box, const QString &prompt, Answer &answer, bool noBeep = true, QString button1 = {},
    QString button2 = {}, QString title = {})
{
    box.cMsgBox(prompt, button1, button2, title, noBeep, answer.fn());
}

void click(VeilixButton *button)
{
    QTest::mouseClick(button->picBut(), Qt::LeftButton, {}, QPoint(10, 10));
}

} // namespace

class tst_frmMsgBox final : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        beeps = 0;
        frmMsgBox::setBeepFn([this] { ++beeps; });
    }

    void defaults_data()
    {
        QTest::addColumn<QString>("button1");
        QTest::addColumn<QString>("button2");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("shown"); // left, right, title
        QTest::newRow("all empty") << QString() << QString() << QString()
                                   << QStringList { QStringLiteral("OK"), QStringLiteral("Cancel"),
                                          QStringLiteral("Vistelle") };
        QTest::newRow("given") << QStringLiteral("Yes") << QStringLiteral("No") << QStringLiteral("Question")
                               << QStringList { QStringLiteral("Yes"), QStringLiteral("No"),
                                      QStringLiteral("Question") };
        QTest::newRow("title only") << QString() << QString() << QStringLiteral("Host manager")
                                    << QStringList { QStringLiteral("OK"), QStringLiteral("Cancel"),
                                           QStringLiteral("Host manager") };
    }
    void defaults()
    {
        QFETCH(QString, button1);
        QFETCH(QString, button2);
        QFETCH(QString, title);
        QFETCH(QStringList, shown);
        frmMsgBox box;
        Answer answer;
        box.cMsgBox(QStringLiteral("Prompt text"), button1, button2, title, true, answer.fn());
        QVERIFY(box.isVisible());
        QCOMPARE(box.cmd[0]->Caption(), shown[0]);
        QCOMPARE(box.cmd[1]->Caption(), shown[1]);
        QCOMPARE(box.tdTitleBar->Caption(), shown[2]);
        QCOMPARE(box.lblPrompt->text(), QStringLiteral("Prompt text"));
        QCOMPARE(box.windowModality(), Qt::ApplicationModal);
        // The caller's empty variables received the defaults.
        QCOMPARE((QStringList { button1, button2, title }), shown);
        // Equal size, the left button on the left.
        QCOMPARE(box.cmd[0]->size(), box.cmd[1]->size());
        QVERIFY(box.cmd[0]->x() < box.cmd[1]->x());
    }

    void resultIsPressedIndexPlusOne_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("left") << 0;
        QTest::newRow("right") << 1;
    }
    void resultIsPressedIndexPlusOne()
    {
        QFETCH(int, index);
        frmMsgBox box;
        QCOMPARE(box.lastIndex(), qint16(0));
        Answer answer;
        ask(box, QStringLiteral("Which?"), answer);
        click(box.cmd[size_t(index)]);
        QCOMPARE(answer.results, (QList<qint16> { qint16(index + 1) }));
        // Hidden, not unloaded; the index is kept for the next call.
        QVERIFY(!box.isVisible());
        QCOMPARE(box.lastIndex(), qint16(index));
        ask(box, QStringLiteral("Again"), answer);
        QVERIFY(box.isVisible());
        QCOMPARE(box.lblPrompt->text(), QStringLiteral("Again"));
        click(box.cmd[0]);
        QCOMPARE(answer.results, (QList<qint16> { qint16(index + 1), 1 }));
    }

    void beepUnlessNoBeep()
    {
        frmMsgBox box;
        Answer answer;
        ask(box, QStringLiteral("Success"), answer, true);
        QCOMPARE(beeps, 0);
        click(box.cmd[0]);
        ask(box, QStringLiteral("Failure"), answer, false);
        QCOMPARE(beeps, 1);
        click(box.cmd[0]);
    }

    void callWhileShownWaitsItsTurn()
    {
        frmMsgBox box;
        Answer first, second;
        ask(box, QStringLiteral("first"), first);
        ask(box, QStringLiteral("second"), second);
        QCOMPARE(box.lblPrompt->text(), QStringLiteral("first"));
        click(box.cmd[1]);
        QCOMPARE(first.results, (QList<qint16> { 2 }));
        QVERIFY(second.results.isEmpty());
        QVERIFY(box.isVisible());
        QCOMPARE(box.lblPrompt->text(), QStringLiteral("second"));
        click(box.cmd[0]);
        QCOMPARE(second.results, (QList<qint16> { 1 }));
        QVERIFY(!box.isVisible());
    }

    void longPromptIsCut()
    {
        frmMsgBox box;
        Answer answer;
        ask(box, QString(100000, u'x'), answer);
        QCOMPARE(box.lblPrompt->text().size(), frmMsgBox::MaxPromptLength);
        click(box.cmd[0]);
    }

    // A keyboard user is not trapped: Tab moves between the skinned buttons, Escape closes the box
    // (as the right button), Enter answers with the button that has the focus.
    void keyboard()
    {
        frmMsgBox box;
        Answer answer;
        ask(box, QStringLiteral("Keys"), answer);
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QCOMPARE(QApplication::focusWidget(), box.cmd[0]->picBut());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), box.cmd[1]->picBut());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), box.cmd[0]->picBut());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!box.isVisible());
        QCOMPARE(answer.results, (QList<qint16> { 2 }));
        QCOMPARE(box.lastIndex(), qint16(0)); // no button was pressed

        ask(box, QStringLiteral("Enter"), answer);
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(answer.results, (QList<qint16> { 2, 2 }));
        QCOMPARE(box.lastIndex(), qint16(1));
    }

    // The release of the Enter that made the caller ask must not answer the box.
    void releaseWithoutPressIsNoAnswer()
    {
        frmMsgBox box;
        Answer answer;
        ask(box, QStringLiteral("Opened by Enter"), answer);
        QVERIFY(QTest::qWaitForWindowActive(&box));
        QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(box.isVisible());
        QVERIFY(answer.results.isEmpty());
        click(box.cmd[0]);
    }

    void closedByWindowManagerAnswersAsRightButton()
    {
        frmMsgBox box;
        Answer answer;
        ask(box, QStringLiteral("Close me"), answer);
        QVERIFY(box.close() == false); // hidden, not closed for good
        QVERIFY(!box.isVisible());
        QCOMPARE(answer.results, (QList<qint16> { 2 }));
    }

    void programInstanceIsLoadedOnce()
    {
        QVERIFY(!frmMsgBox::loaded());
        frmMsgBox *box = frmMsgBox::instance();
        QCOMPARE(frmMsgBox::instance(), box);
        QCOMPARE(frmMsgBox::loaded(), box);
        frmMsgBox::unload();
        QVERIFY(!frmMsgBox::loaded());
    }

private:
    int beeps = 0;
};

QTEST_MAIN(tst_frmMsgBox)
#include "tst_frmMsgBox.moc"
