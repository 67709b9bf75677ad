#pragma once

#include <QtGlobal>

// A control's coordinate scale: how many scale units one pixel is, by scale mode
// (0 user-defined, 1 twips, 2 points, 3 pixels, 4 characters, 5 inches, 6 millimetres,
// 7 centimetres, 8 HIMETRIC). Setting a scale width or height that the current mode does not
// give switches to a user-defined scale with that factor; going back to mode 0 later restores it.
class ScaleModel final
{
public:
    explicit ScaleModel(int mode) { setMode(mode); }

    int mode() const { return m_mode; }
    void setMode(int mode);

    double unitsPerPixelX() const { return m_ux; }
    double unitsPerPixelY() const { return m_uy; }

    double width(int pixels) const { return pixels * m_ux; }
    double height(int pixels) const { return pixels * m_uy; }
    void setWidth(double units, int pixels);
    void setHeight(double units, int pixels);

    double toPixelsX(double units) const { return m_ux != 0 ? units / m_ux : 0; }
    double toPixelsY(double units) const { return m_uy != 0 ? units / m_uy : 0; }

    // Units per pixel of a standard mode (the current user factor for mode 0).
    double modeFactorX(int mode) const;
    double modeFactorY(int mode) const;

private:
    int m_mode = 3;
    double m_ux = 1;
    double m_uy = 1;
    double m_userX = 1; // the user-defined scale, kept while another mode is in use
    double m_userY = 1;
};
