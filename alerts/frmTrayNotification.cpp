#include "alerts/frmTrayNotification.h"

#include "core/Clock.h"
#include "core/Console.h"
#include "core/PlainText.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

namespace {

constexpr qreal CornerRadius = 9.0;

QLabel *makeLabel(QWidget *parent, const QString &name, const QString &designText, const QFont &font,
    const QRect &geometry, const QColor &colour)
{
    auto *label = new QLabel(designText, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFont(font);
    label->setGeometry(geometry);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

QFont faceFont(qreal pointSize, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

QString bounded(const QString &text)
{
    return PlainText::shortened(text, frmTrayNotification::MaxTextLength);
}

QPainterPath facePath()
{
    QPainterPath path;
    path.addRoundedRect(
        QRectF(0, 0, frmTrayNotification::FaceWidth, frmTrayNotification::FaceHeight), CornerRadius, CornerRadius);
    return path;
}

} // namespace

frmTrayNotification::frmTrayNotification(const Clock &clock, QWidget *parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , lblCaption(makeLabel(this, QStringLiteral("lblCaption"), QStringLiteral("Message Caption"), faceFont(11.25, true),
          QRect(8, 8, 225, 49), QColor(0xff, 0xff, 0xff)))
    , lblSubcaption(makeLabel(this, QStringLiteral("lblSubcaption"), QStringLiteral("Message Text"), faceFont(9, false),
          QRect(8, 56, 219, 55), QColor(0xdc, 0xe6, 0xf2)))
    , m_motion(clock)
    , m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("frmTrayNotification"));
    setWindowTitle(QStringLiteral("Vistelle"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(FaceWidth, FaceHeight);
    setMask(QRegion(facePath().toFillPolygon().toPolygon()));
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &frmTrayNotification::step);
}

frmTrayNotification::~frmTrayNotification() = default;

void frmTrayNotification::ShowTrayNotification(const QString &caption, const QString &subcaption)
{
    lblCaption->setText(caption);
    lblSubcaption->setText(subcaption);
    ShowTrayNotification();
}

bool frmTrayNotification::canBePlaced()
{
    return QGuiApplication::platformName() != u"wayland";
}

void frmTrayNotification::ShowTrayNotification()
{
    lblCaption->setText(bounded(lblCaption->text()));
    lblSubcaption->setText(bounded(lblSubcaption->text()));
    Console::writeLine(QStringLiteral("Popup: ") + lblCaption->text() + QStringLiteral(" | ") + lblSubcaption->text());

    m_motion.start(height());
    applyPosition();
    if (!isVisible())
        show();
    raise();
    scheduleStep();
}

void frmTrayNotification::step()
{
    if (!m_motion.isRunning())
        return;
    if (m_motion.step()) {
        if (!m_motion.isRunning()) {
            m_timer->stop();
            hide();
            // The texts belong to one appearance; the next caller sets its own.
            lblCaption->setText(QStringLiteral("Message Caption"));
            lblSubcaption->setText(QStringLiteral("Message Text"));
            emit finished();
            return;
        }
        applyPosition();
    }
    scheduleStep();
}

void frmTrayNotification::applyPosition()
{
    // The whole screen, not the work area: the window ends up over a bottom panel.
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    move(area.x() + area.width() - width(), area.y() + area.height() - m_motion.offset());
}

void frmTrayNotification::scheduleStep()
{
    m_timer->start(static_cast<int>(m_motion.msUntilNextStep()));
}

void frmTrayNotification::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath face = facePath();

    QLinearGradient body(0, 0, 0, FaceHeight);
    body.setColorAt(0.0, QColor(0x2f, 0x4d, 0x7a));
    body.setColorAt(1.0, QColor(0x14, 0x24, 0x3d));
    painter.fillPath(face, body);

    // A soft sheen over the title line.
    QLinearGradient sheen(0, 0, 0, 52);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 46));
    sheen.setColorAt(1.0, QColor(255, 255, 255, 0));
    painter.fillPath(face.intersected([] {
        QPainterPath top;
        top.addRect(0, 0, FaceWidth, 52);
        return top;
    }()),
        sheen);

    // The separating rule between the two lines, in the program's accent colour.
    painter.setPen(QPen(QColor(0xf0, 0xa2, 0x3b), 2));
    painter.drawLine(QPointF(8, 52.5), QPointF(FaceWidth - 8, 52.5));

    painter.setPen(QPen(QColor(0x8f, 0xb3, 0xe0), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(0.5, 0.5, FaceWidth - 1, FaceHeight - 1), CornerRadius, CornerRadius);
}
