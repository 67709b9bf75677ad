#include "alerts/PopupMotion.h"

#include "core/Clock.h"

#include <algorithm>

PopupMotion::PopupMotion(const Clock &clock)
    : m_clock(clock)
{ }

void PopupMotion::enter(Phase phase, int offset, qint64 span)
{
    m_phase = phase;
    m_offset = offset;
    m_span = span;
    m_stepStart = m_clock.monotonicMs();
}

void PopupMotion::start(int windowHeight)
{
    switch (m_phase) {
    case Phase::Closed:
        m_travel = std::max(0, windowHeight) + MarginPx;
        enter(Phase::SlidingIn, 0, StepMs);
        break;
    case Phase::SlidingIn:
        // Still on its way up; the rest begins when it arrives, later than 3 s from now anyway.
        break;
    case Phase::Resting:
    case Phase::SlidingOut:
        enter(Phase::Resting, m_travel, RestMs);
        break;
    }
}

bool PopupMotion::step()
{
    if (m_phase == Phase::Closed || m_clock.monotonicMs() - m_stepStart <= m_span)
        return false;
    switch (m_phase) {
    case Phase::SlidingIn:
        if (m_offset + StepPx <= m_travel)
            enter(Phase::SlidingIn, m_offset + StepPx, StepMs);
        else
            enter(Phase::Resting, m_travel, RestMs); // exact, whatever the last step reached
        break;
    case Phase::Resting:
        enter(Phase::SlidingOut, m_travel, StepMs);
        break;
    case Phase::SlidingOut:
        if (m_offset - StepPx >= 0)
            enter(Phase::SlidingOut, m_offset - StepPx, StepMs);
        else
            enter(Phase::Closed, 0, 0);
        break;
    case Phase::Closed:
        break;
    }
    return true;
}

qint64 PopupMotion::msUntilNextStep() const
{
    const qint64 left = m_stepStart + m_span + 1 - m_clock.monotonicMs();
    return std::max<qint64>(1, left);
}
