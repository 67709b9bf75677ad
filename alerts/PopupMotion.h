#pragma once

#include <QtGlobal>

class Clock;

// The visit popup's movement, without a window: it slides up from below the screen's bottom edge
// in 20-pixel steps every 20 ms until its bottom edge is 30 pixels above the screen's bottom edge,
// rests there for 3 s and slides down the same way. offset() is how far the window's top edge is
// above the screen's bottom edge (window top = screen bottom - offset).
//
// A new appearance asked for while one runs does not start over: the window keeps sliding in, or
// stays (or comes back at once) at the resting place, and rests 3 s from the request, then slides
// out once.
class PopupMotion final
{
public:
    enum class Phase { Closed, SlidingIn, Resting, SlidingOut };

    static constexpr int StepPx = 20;
    static constexpr int MarginPx = 30;
    static constexpr qint64 StepMs = 20;
    static constexpr qint64 RestMs = 3000;

    explicit PopupMotion(const Clock &clock);

    // Starts an appearance of a window of this height, or renews the one under way.
    void start(int windowHeight);
    // Moves on when the current step's time has passed (strictly more than its span). Returns
    // true when the offset or the phase changed.
    bool step();

    Phase phase() const { return m_phase; }
    bool isRunning() const { return m_phase != Phase::Closed; }
    int offset() const { return m_offset; }
    // The resting offset: window height + 30 px.
    int travel() const { return m_travel; }
    // Milliseconds until step() has something to do (at least 1), for the caller's timer.
    qint64 msUntilNextStep() const;

private:
    void enter(Phase phase, int offset, qint64 span);

    const Clock &m_clock;
    Phase m_phase = Phase::Closed;
    int m_offset = 0;
    int m_travel = 0;
    qint64 m_stepStart = 0;
    qint64 m_span = 0;
};
