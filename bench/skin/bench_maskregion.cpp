// Builds the window region of a 1920 × 1080 mask picture with the library's scan and with Qt's
// QRegion(QBitmap::fromImage(...)) on the same mask, checks both regions are equal and prints the
// times and their ratio. Usage: bench_maskregion [rounds]
#include "VeilixControl/modUniversal.h"

#include <QBitmap>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr QRgb Magenta = 0xFFFF00FF;

// A skin-like mask: a rounded body with a round cut-out, a row of holes and a ragged edge, on the
// mask colour.
QImage makeMask(QImage::Format format)
{
    QImage img(1920, 1080, QImage::Format_RGB32);
    img.fill(Magenta);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 60, 90));
    p.drawRoundedRect(QRect(60, 40, 1800, 1000), 180, 180);
    p.setBrush(QColor(Magenta));
    p.drawEllipse(QPoint(960, 540), 300, 220);
    for (int i = 0; i < 40; ++i)
        p.drawEllipse(QPoint(120 + i * 42, 120), 12, 12);
    QRandomGenerator rng(42);
    for (int y = 0; y < 1080; y += 3) {
        const int notch = int(rng.bounded(40));
        p.drawRect(1860 - notch, y, notch, 2);
    }
    p.setBrush(QColor(200, 200, 200));
    p.drawEllipse(QPoint(960, 540), 120, 90);
    p.end();
    return img.convertToFormat(format);
}

double medianMs(int rounds, const std::function<void()> &fn)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        fn();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

bool run(const char *label, QImage::Format format, int rounds)
{
    const QImage mask = makeMask(format);
    const QImage mono = mask.convertToFormat(QImage::Format_RGB32).createMaskFromColor(Magenta, Qt::MaskInColor);

    QRegion ours;
    QRegion qt;
    const double oursMs = medianMs(rounds, [&] { ours = *modUniversal::BuildMaskRegion(mask, 0x00FF00FF); });
    const double qtMs = medianMs(rounds, [&] { qt = QRegion(QBitmap::fromImage(mono)); });
    const QRegion qtFromMono = qt;
    const double qtFullMs = medianMs(rounds, [&] {
        qt = QRegion(QBitmap::fromImage(
            mask.convertToFormat(QImage::Format_RGB32).createMaskFromColor(Magenta, Qt::MaskInColor)));
    });
    // Equal as point sets; Qt merges some rows of equal runs into taller rectangles, so the
    // rectangle lists themselves may differ.
    const bool equal
        = (ours ^ qt).isEmpty() && (ours ^ qtFromMono).isEmpty() && ours.boundingRect() == qt.boundingRect();
    std::printf("%s mask 1920x1080, %d rounds (median)\n", label, rounds);
    std::printf("  ours  BuildMaskRegion(mask)                                : %8.3f ms  (%d rectangles)\n", oursMs,
        ours.rectCount());
    std::printf("  Qt    QRegion(QBitmap::fromImage(createMaskFromColor(mask))) : %8.3f ms  (%d rectangles)\n",
        qtFullMs, qt.rectCount());
    std::printf("  Qt    bitmap step alone, mono mask prepared beforehand     : %8.3f ms\n", qtMs);
    std::printf("  ratio ours / Qt (same colour mask) = %.3f   [ours / Qt's bitmap step alone = %.3f]\n",
        oursMs / qtFullMs, oursMs / qtMs);
    std::printf("  regions equal (same pixels): %s\n", equal ? "yes" : "NO");
    return equal;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    bool ok = run("32-bit", QImage::Format_RGB32, rounds);
    ok = run("24-bit", QImage::Format_RGB888, rounds) && ok;
    return ok ? 0 : 1;
}
