#include "dialogs/frmMsgBox.h"

#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/VeilixDragBar.h"
#include "core/Console.h"
#include "dialogs/Skin.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

const QString frmMsgBox::DefaultButton1 = QStringLiteral("OK");
const QString frmMsgBox::DefaultButton2 = QStringLiteral("Cancel");
const QString frmMsgBox::DefaultTitle = QStringLiteral("Vistelle");

namespace {

QPointer<frmMsgBox> g_instance;

std::function<void()> &beepFn()
{
    static std::function<void()> fn;
    return fn;
}

void beep()
{
    if (beepFn())
        beepFn()();
    else
        QApplication::beep();
}

} // namespace

frmMsgBox::frmMsgBox(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmMsgBox"));
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(DefaultTitle);

    tdTitleBar = new VeilixDragBar(this);
    tdTitleBar->setObjectName(QStringLiteral("tdTitleBar"));
    Skin::applyTitleBar(tdTitleBar);
    tdTitleBar->setCaption(DefaultTitle);

    Shape2 = new QFrame(this);
    Shape2->setObjectName(QStringLiteral("Shape2"));
    Shape2->setFrameShape(QFrame::StyledPanel);
    Shape2->setFrameShadow(QFrame::Sunken);

    Image1 = new QLabel(Shape2);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    Image1->setAlignment(Qt::AlignTop);
    Image1->setAccessibleName(QStringLiteral("Information"));

    lblPrompt = new QLabel(Shape2);
    lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
    lblPrompt->setTextFormat(Qt::PlainText);
    lblPrompt->setWordWrap(true);
    lblPrompt->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblPrompt->setMinimumWidth(260);
    lblPrompt->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto *promptRow = new QHBoxLayout(Shape2);
    promptRow->setContentsMargins(12, 12, 12, 12);
    promptRow->setSpacing(12);
    promptRow->addWidget(Image1, 0, Qt::AlignTop);
    promptRow->addWidget(lblPrompt, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    for (int i = 0; i < 2; ++i) {
        auto *b = new VeilixButton(this);
        b->setObjectName(QStringLiteral("cmd%1").arg(i));
        Skin::applyButton(b);
        b->setFixedSize(88, 26);
        connect(b, &VeilixButton::Click, this, [this, i] { cmd_Click(i); });
        // Enter and Space show the pressed face; the box takes their release as the press, so a
        // keyboard user can answer. Only a key pressed on this button counts: the release of the
        // Enter that opened the box must not close it.
        connect(b, &VeilixButton::KeyDown, this, [this, i](qint16 &keyCode, qint16 &) {
            if (keyCode == 13 || keyCode == 32)
                m_keyHeld[size_t(i)] = keyCode;
        });
        connect(b, &VeilixButton::KeyUp, this, [this, i](qint16 &keyCode, qint16 &) {
            const bool held = m_keyHeld[size_t(i)] == keyCode;
            m_keyHeld[size_t(i)] = 0;
            if (held && (keyCode == 13 || keyCode == 32))
                cmd_Click(i);
        });
        cmd[size_t(i)] = b;
        buttons->addWidget(b);
    }
    buttons->addStretch();
    cmd[0]->setCaption(DefaultButton1);
    cmd[1]->setCaption(DefaultButton2);
    setTabOrder(cmd[0], cmd[1]);

    auto *content = new QVBoxLayout;
    content->setContentsMargins(10, 10, 10, 10);
    content->setSpacing(10);
    content->addWidget(Shape2);
    content->addLayout(buttons);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1); // the frame drawn by paintEvent
    layout->setSpacing(0);
    layout->addWidget(tdTitleBar);
    layout->addLayout(content);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setFixedWidth(380);
}

frmMsgBox::~frmMsgBox() = default;

frmMsgBox *frmMsgBox::instance()
{
    if (!g_instance)
        g_instance = new frmMsgBox;
    return g_instance;
}

frmMsgBox *frmMsgBox::loaded()
{
    return g_instance;
}

void frmMsgBox::unload()
{
    delete g_instance;
}

void frmMsgBox::setBeepFn(std::function<void()> beep)
{
    beepFn() = std::move(beep);
}

void frmMsgBox::cMsgBox(
    const QString &Prompt, QString &Button1, QString &Button2, QString &Title, bool NoBeep, ResultFn onResult)
{
    if (Title.isEmpty())
        Title = DefaultTitle;
    if (Button1.isEmpty())
        Button1 = DefaultButton1;
    if (Button2.isEmpty())
        Button2 = DefaultButton2;
    Request request { Prompt.left(MaxPromptLength), Button1, Button2, Title, NoBeep, std::move(onResult) };

    if (Console::isHeadless()) {
        Console::writeError(Title + QStringLiteral(": ") + request.prompt);
        m_index = 0;
        if (request.onResult)
            request.onResult(1);
        return;
    }
    if (m_current) {
        m_waiting.append(std::move(request));
        return;
    }
    m_current = std::move(request);
    showRequest();
}

void frmMsgBox::showRequest()
{
    const Request &r = *m_current;
    tdTitleBar->setCaption(r.title);
    setWindowTitle(r.title);
    lblPrompt->setText(r.prompt);
    cmd[0]->setCaption(r.button1);
    cmd[1]->setCaption(r.button2);
    if (!r.noBeep)
        beep();

    adjustSize();
    // Centred over the window in front, else on the screen.
    const QWidget *over = QApplication::activeWindow();
    const QRect area = over && over != this ? over->frameGeometry()
        : screen()                          ? screen()->availableGeometry()
                                            : QRect(0, 0, 1024, 768);
    move(area.center() - rect().center());
    show();
    raise();
    activateWindow();
    // The focus first, then the drawing: the left button shows the focus it has.
    cmd[0]->setFocus(Qt::ActiveWindowFocusReason);
    for (VeilixButton *b : cmd)
        b->Redraw();
}

void frmMsgBox::cmd_Click(int index)
{
    if (!m_current)
        return;
    m_index = qint16(index);
    finish(qint16(index + 1));
}

void frmMsgBox::finish(qint16 result)
{
    m_keyHeld = {};
    hide();
    std::optional<Request> done = std::move(m_current);
    m_current.reset();
    QPointer<frmMsgBox> alive(this);
    if (done && done->onResult)
        done->onResult(result);
    if (!alive)
        return;
    emit answered(result);
    if (!m_current && !m_waiting.isEmpty()) {
        m_current = m_waiting.takeFirst();
        showRequest();
    }
}

void frmMsgBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && m_current) {
        finish(2);
        return;
    }
    QWidget::keyPressEvent(event);
}

void frmMsgBox::closeEvent(QCloseEvent *event)
{
    // Closed by the window manager: hidden like after a press, answered as the right button.
    event->ignore();
    if (m_current)
        finish(2);
    else
        hide();
}

void frmMsgBox::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setPen(Skin::windowBorderColor());
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}
