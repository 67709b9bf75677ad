// VeilixControl demo: a borderless window in the shape of its skin, with a title bar that drags it,
// two skinned buttons (the second one loaded from the first one's property bag) and controls that
// blend with the background picture. The pictures are drawn here so the demo needs no files.
//   veilix_demo [--backdrop] [--save-design DIR]
#include "VeilixControl/OleColor.h"
#include "VeilixControl/PropertyBag.h"
#include "VeilixControl/Veilix.h"
#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"

#include <QApplication>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <cstdio>

namespace {

constexpr QRgb MaskColour = 0xFFFF00FF;
const QColor Panel(0x20, 0x30, 0x48);

QPainterPath bodyShape()
{
    QPainterPath body;
    body.addRoundedRect(QRectF(10, 30, 400, 220), 36, 36);
    QPainterPath ear;
    ear.addEllipse(QPointF(360, 50), 44, 44);
    QPainterPath hole;
    hole.addEllipse(QPointF(352, 196), 24, 24);
    return body.united(ear).subtracted(hole);
}

QImage skinPicture()
{
    QImage img(420, 260, QImage::Format_RGB32);
    img.fill(MaskColour);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 260);
    g.setColorAt(0, QColor(0x2c, 0x6e, 0x8f));
    g.setColorAt(1, QColor(0x10, 0x24, 0x3a));
    p.fillPath(bodyShape(), g);
    p.setPen(QPen(QColor(0x9f, 0xd8, 0xf0), 2));
    p.drawPath(bodyShape());
    p.fillRect(QRect(28, 76, 290, 92), Panel); // the flat panels under the labels and buttons
    p.fillRect(QRect(48, 178, 276, 48), Panel);
    p.setPen(QPen(QColor(0x9f, 0xd8, 0xf0), 1));
    p.drawRect(QRect(28, 76, 290, 92));
    p.drawRect(QRect(48, 178, 276, 48));
    p.setBrush(QColor(0xf0, 0xb0, 0x30));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(360, 50), 14, 14);
    return img;
}

// The mask: the body in any colour but magenta, the rest magenta (edges kept hard).
QImage maskPicture()
{
    QImage img(420, 260, QImage::Format_RGB32);
    img.fill(MaskColour);
    QPainter p(&img);
    p.fillPath(bodyShape(), Qt::black);
    return img;
}

QImage buttonFace(QColor top, QColor bottom, QColor edge)
{
    QImage img(48, 30, QImage::Format_ARGB32_Premultiplied);
    img.fill(Panel);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 30);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setBrush(g);
    p.setPen(QPen(edge, 2));
    p.drawRoundedRect(QRectF(1, 1, 46, 28), 9, 9);
    return img;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("VeilixControl demo"));
    const QStringList args = QApplication::arguments();

    QWidget backdrop; // a patterned desktop behind the window, to show its shape in screenshots
    if (args.contains(QStringLiteral("--backdrop"))) {
        backdrop.setWindowFlag(Qt::FramelessWindowHint);
        backdrop.setGeometry(0, 0, 1024, 768);
        QImage tile(40, 40, QImage::Format_RGB32);
        tile.fill(QColor(0xe8, 0xe8, 0xe0));
        QPainter(&tile).fillRect(0, 0, 20, 20, QColor(0xc8, 0xc8, 0xbe));
        QPainter(&tile).fillRect(20, 20, 20, 20, QColor(0xc8, 0xc8, 0xbe));
        QPalette pal = backdrop.palette();
        pal.setBrush(QPalette::Window, QBrush(tile));
        backdrop.setPalette(pal);
        backdrop.setAutoFillBackground(true);
        backdrop.show();
    }

    QWidget form;
    form.setObjectName(QStringLiteral("frmDemo"));
    form.setWindowTitle(QStringLiteral("VeilixControl demo"));
    form.setWindowFlag(Qt::FramelessWindowHint);

    auto *bar = new VeilixDragBar(&form);
    bar->setObjectName(QStringLiteral("tdTitleBar"));
    bar->setGeometry(30, 40, 290, 26);
    bar->setForeColor(OleColor::fromRgb(255, 255, 255));
    QFont titleFont = bar->Font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(10);
    bar->setFontProperty(titleFont);
    bar->setCaption(QStringLiteral("VeilixControl demo - drag me"));

    auto *text = new QLabel(QStringLiteral("A shaped window: its corners, ear and hole\n"
                                           "come from a mask picture. The title bar\n"
                                           "moves it; the buttons are skinned pictures."),
        &form);
    text->setTextFormat(Qt::PlainText);
    text->setGeometry(38, 84, 276, 56);
    auto *picBox = new QFrame(&form);
    picBox->setFrameShape(QFrame::Box);
    picBox->setGeometry(336, 108, 36, 36);
    auto *status = new QLabel(QStringLiteral("Ready."), &form);
    status->setTextFormat(Qt::PlainText);
    status->setGeometry(38, 142, 270, 20);

    auto *cmdMinimize = new VeilixButton(&form);
    cmdMinimize->setObjectName(QStringLiteral("cmdMinimize"));
    cmdMinimize->setGeometry(60, 184, 110, 36);
    cmdMinimize->setPictureNormal(
        VeilixPicture(buttonFace(QColor(0x4a, 0x7a, 0xa0), QColor(0x24, 0x46, 0x66), QColor(0x9f, 0xd8, 0xf0))));
    cmdMinimize->setPictureOver(
        VeilixPicture(buttonFace(QColor(0x6a, 0xa6, 0xd0), QColor(0x33, 0x66, 0x8c), QColor(0xff, 0xff, 0xff))));
    cmdMinimize->setPictureDown(
        VeilixPicture(buttonFace(QColor(0x1c, 0x3a, 0x56), QColor(0x38, 0x5e, 0x80), QColor(0x9f, 0xd8, 0xf0))));
    cmdMinimize->setBorderWidth(9);
    cmdMinimize->setForeColor(OleColor::fromRgb(255, 255, 255));
    cmdMinimize->setForeColorOver(OleColor::fromRgb(255, 230, 140));
    cmdMinimize->setForeColorDown(OleColor::fromRgb(200, 220, 240));
    cmdMinimize->setCaption(QStringLiteral("Minimize"));

    // The second button is loaded from the first one's design, as a window keeps its designs.
    PropertyBag design;
    cmdMinimize->writeProperties(design);
    design.WriteProperty(QStringLiteral("Caption"), QStringLiteral("Close"));
    auto *cmdExit = new VeilixButton(&form);
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    cmdExit->setGeometry(200, 184, 110, 36);
    cmdExit->readProperties(*PropertyBag::fromJson(design.toJson()));

    const int saveAt = int(args.indexOf(QStringLiteral("--save-design")));
    if (saveAt >= 0 && saveAt + 1 < args.size()) {
        const QDir dir(args.at(saveAt + 1));
        design.save(dir.filePath(QStringLiteral("cmdExit.json")));
    }

    // The shaped-window control: background, blending controls, then the shape.
    auto *skin = new Veilix(&form);
    skin->move(0, 0);
    skin->setControlForeColor(OleColor::fromQColor(QColor(0xe0, 0xf0, 0xff)));
    skin->setControlBackColor(OleColor::fromQColor(Panel));
    skin->setMaskPicture(VeilixPicture(maskPicture()));
    skin->setControlPainting(true);
    skin->setPicture(VeilixPicture(skinPicture()));
    skin->ApplyTransparency();

    QObject::connect(cmdExit, &VeilixButton::Click, &app, &QApplication::quit);
    QObject::connect(cmdMinimize, &VeilixButton::Click, &form, &QWidget::showMinimized);
    QObject::connect(cmdMinimize, &VeilixButton::MouseIn, status,
        [status] { status->setText(QStringLiteral("Minimize the window.")); });
    QObject::connect(
        cmdExit, &VeilixButton::MouseIn, status, [status] { status->setText(QStringLiteral("Close the demo.")); });
    QObject::connect(bar, &VeilixDragBar::MouseUp, status,
        [status](qint16 &, qint16 &, float &, float &) { status->setText(QStringLiteral("Moved by the title bar.")); });

    form.move(170, 130);
    form.show();
    QTimer::singleShot(500, &form, [&form] {
        std::printf("READY %d %d\n", form.x(), form.y());
        std::fflush(stdout);
    });
    return app.exec();
}
