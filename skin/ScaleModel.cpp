#include "ScaleModel.h"

#include <cmath>

namespace {

// Units per pixel at 96 pixels per inch (15 twips to the pixel).
double standardFactor(int mode, bool vertical)
{
    switch (mode) {
    case 1:
        return 15.0;
    case 2:
        return 0.75;
    case 3:
        return 1.0;
    case 4:
        return vertical ? 1.0 / 16.0 : 1.0 / 8.0; // 240 twips high, 120 twips wide
    case 5:
        return 1.0 / 96.0;
    case 6:
        return 25.4 / 96.0;
    case 7:
        return 2.54 / 96.0;
    case 8:
        return 2540.0 / 96.0;
    default:
        return 0;
    }
}

} // namespace

void ScaleModel::setMode(int mode)
{
    if (mode == 0) {
        m_mode = 0;
        m_ux = m_userX;
        m_uy = m_userY;
        return;
    }
    const double fx = standardFactor(mode, false);
    if (fx == 0)
        return; // unknown modes are ignored
    m_mode = mode;
    m_ux = fx;
    m_uy = standardFactor(mode, true);
}

void ScaleModel::setWidth(double units, int pixels)
{
    if (pixels <= 0 || units <= 0 || std::abs(units - width(pixels)) < 1e-6)
        return;
    if (m_mode != 0)
        m_userY = m_uy;
    m_mode = 0;
    m_ux = m_userX = units / pixels;
}

void ScaleModel::setHeight(double units, int pixels)
{
    if (pixels <= 0 || units <= 0 || std::abs(units - height(pixels)) < 1e-6)
        return;
    if (m_mode != 0)
        m_userX = m_ux;
    m_mode = 0;
    m_uy = m_userY = units / pixels;
}

double ScaleModel::modeFactorX(int mode) const
{
    return mode == 0 ? m_ux : standardFactor(mode, false);
}

double ScaleModel::modeFactorY(int mode) const
{
    return mode == 0 ? m_uy : standardFactor(mode, true);
}
