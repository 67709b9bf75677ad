#include "alerts/PopupMotion.h"
#include "core/Clock.h"
#include "tests/mock/ManualClock.h"

#include <QTest>

using Phase = PopupMotion::Phase;

class tst_PopupMotion : public QObject
{
    Q_OBJECT
private slots:
    void slideInSteps_data();
    void slideInSteps();
    void waitsStrictlyLongerThanEachSpan();
    void restsThreeSecondsThenSlidesOutAndCloses();
    void renewWhileRestingRestsThreeSecondsFromThen();
    void renewWhileSlidingOutReturnsAtOnce();
    void renewWhileSlidingInKeepsSliding();
    void closedMotionDoesNothing();

private:
    // Steps through whatever is due, one step per 21 ms; collects the offsets of one phase.
    static QList<int> offsetsOf(PopupMotion &motion, ManualClock &clock, Phase phase)
    {
        QList<int> offsets;
        if (motion.phase() == phase)
            offsets << motion.offset();
        while (motion.isRunning()) {
            clock.advance(motion.msUntilNextStep());
            if (motion.step() && motion.phase() == phase)
                offsets << motion.offset();
            if (motion.phase() != phase && !offsets.isEmpty())
                break;
        }
        return offsets;
    }
};

void tst_PopupMotion::slideInSteps_data()
{
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("steps");
    QTest::addColumn<int>("lastStepOffset");
    // travel = height + 30; one step per multiple of 20 from 0 up to the travel.
    QTest::newRow("face 122: travel 152") << 122 << 8 << 140;
    QTest::newRow("travel 150") << 120 << 8 << 140;
    QTest::newRow("travel 160, a multiple of 20") << 130 << 9 << 160;
    QTest::newRow("travel 30") << 0 << 2 << 20;
    QTest::newRow("travel 39") << 9 << 2 << 20;
}

void tst_PopupMotion::slideInSteps()
{
    QFETCH(int, height);
    QFETCH(int, steps);
    QFETCH(int, lastStepOffset);
    ManualClock clock;
    PopupMotion motion(clock);
    motion.start(height);
    QCOMPARE(motion.phase(), Phase::SlidingIn);
    const QList<int> offsets = offsetsOf(motion, clock, Phase::SlidingIn);
    QCOMPARE(offsets.size(), steps);
    for (int i = 0; i < offsets.size(); ++i)
        QCOMPARE(offsets.at(i), i * PopupMotion::StepPx);
    QCOMPARE(offsets.last(), lastStepOffset);
    // The resting place is exact, whatever the last step reached.
    QCOMPARE(motion.phase(), Phase::Resting);
    QCOMPARE(motion.offset(), height + 30);
    QCOMPARE(motion.travel(), height + 30);
    // Sliding out visits the same number of places, from the top down.
    const QList<int> out = offsetsOf(motion, clock, Phase::SlidingOut);
    QCOMPARE(out.size(), steps);
    QCOMPARE(out.first(), height + 30);
    QVERIFY(out.last() >= 0 && out.last() < PopupMotion::StepPx);
    QCOMPARE(motion.phase(), Phase::Closed);
}

void tst_PopupMotion::waitsStrictlyLongerThanEachSpan()
{
    ManualClock clock;
    PopupMotion motion(clock);
    motion.start(122);
    clock.advance(20);
    QVERIFY(!motion.step());
    QCOMPARE(motion.offset(), 0);
    clock.advance(1);
    QVERIFY(motion.step());
    QCOMPARE(motion.offset(), 20);
    // Late ticks do not skip places: one step per due tick.
    clock.advance(500);
    QVERIFY(motion.step());
    QCOMPARE(motion.offset(), 40);
}

void tst_PopupMotion::restsThreeSecondsThenSlidesOutAndCloses()
{
    ManualClock clock;
    PopupMotion motion(clock);
    motion.start(122);
    offsetsOf(motion, clock, Phase::SlidingIn);
    QCOMPARE(motion.phase(), Phase::Resting);
    QCOMPARE(motion.msUntilNextStep(), 3001);
    clock.advance(3000);
    QVERIFY(!motion.step());
    QCOMPARE(motion.phase(), Phase::Resting);
    clock.advance(1);
    QVERIFY(motion.step());
    QCOMPARE(motion.phase(), Phase::SlidingOut);
    QCOMPARE(motion.offset(), 152);
    offsetsOf(motion, clock, Phase::SlidingOut);
    QCOMPARE(motion.phase(), Phase::Closed);
    QVERIFY(!motion.isRunning());
}

void tst_PopupMotion::renewWhileRestingRestsThreeSecondsFromThen()
{
    ManualClock clock;
    PopupMotion motion(clock);
    motion.start(122);
    offsetsOf(motion, clock, Phase::SlidingIn);
    clock.advance(2500);
    motion.step();
    motion.start(122);
    QCOMPARE(motion.phase(), Phase::Resting);
    clock.advance(2900);
    QVERIFY(!motion.step());
    QCOMPARE(motion.phase(), Phase::Resting);
    clock.advance(101);
    QVERIFY(motion.step());
    QCOMPARE(motion.phase(), Phase::SlidingOut);
}

void tst_PopupMotion::renewWhileSlidingOutReturnsAtOnce()
{
    ManualClock clock;
    PopupMotion motion(clock);
    motion.start(122);
    offsetsOf(motion, clock, Phase::SlidingIn);
    clock.advance(3001);
    motion.step();
    for (int i = 0; i < 3; ++i) {
        clock.advance(21);
        motion.step();
    }
    QCOMPARE(motion.phase(), Phase::SlidingOut);
    QCOMPARE(motion.offset(), 152 - 3 * 20);
    motion.start(122);
    QCOMPARE(motion.phase(), Phase::Resting);
    QCOMPARE(motion.offset(), 152);
    QCOMPARE(motion.msUntilNextStep(), 3001);
}

void tst_PopupMotion::renewWhileSlidingInKeepsSliding()
{
    ManualClock clock;
    PopupMotion motion(clock);
    motion.start(122);
    clock.advance(21);
    motion.step();
    clock.advance(21);
    motion.step();
    QCOMPARE(motion.offset(), 40);
    motion.start(122);
    QCOMPARE(motion.phase(), Phase::SlidingIn);
    QCOMPARE(motion.offset(), 40);
    const qint64 renewedAt = clock.monotonicMs();
    offsetsOf(motion, clock, Phase::SlidingIn);
    QCOMPARE(motion.phase(), Phase::Resting);
    // The rest still lasts more than 3 s after the renewal.
    clock.advance(renewedAt + 3000 - clock.monotonicMs());
    QVERIFY(!motion.step());
    QCOMPARE(motion.phase(), Phase::Resting);
}

void tst_PopupMotion::closedMotionDoesNothing()
{
    ManualClock clock;
    PopupMotion motion(clock);
    clock.advance(10'000);
    QVERIFY(!motion.step());
    QCOMPARE(motion.phase(), Phase::Closed);
}

QTEST_GUILESS_MAIN(tst_PopupMotion)
#include "tst_PopupMotion.moc"
