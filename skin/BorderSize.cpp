#include "VeilixControl/BorderSize.h"

#include "VeilixControl/DrawSurface.h"
#include "VeilixControl/VeilixButton.h"
#include "VeilixControl/modUniversal.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cmath>

BorderSize::BorderSize(QWidget *parent)
    : QWidget(parent)
    , lblBorder(new QLabel(QStringLiteral("Border Width: (pixels)"), this))
    , lblBorderWidth(new QLabel(QStringLiteral("10"), this))
    , butAddMinus { new QPushButton(QStringLiteral("-"), this), new QPushButton(QStringLiteral("+"), this) }
    , picBorder(new DrawSurface(this))
{
    setObjectName(QStringLiteral("BorderSize"));
    setWindowTitle(QStringLiteral("BorderSize"));
    lblBorder->setObjectName(QStringLiteral("lblBorder"));
    lblBorderWidth->setObjectName(QStringLiteral("lblBorderWidth"));
    lblBorder->setTextFormat(Qt::PlainText);
    lblBorderWidth->setTextFormat(Qt::PlainText);
    butAddMinus[0]->setObjectName(QStringLiteral("butAddMinus_0"));
    butAddMinus[1]->setObjectName(QStringLiteral("butAddMinus_1"));
    // "-" and "+" say little to a screen reader.
    butAddMinus[0]->setAccessibleName(QStringLiteral("Decrease border width"));
    butAddMinus[1]->setAccessibleName(QStringLiteral("Increase border width"));
    picBorder->setObjectName(QStringLiteral("picBorder"));
    picBorder->setFixedSize(160, 64);
    picBorder->setClearColor(palette().color(QPalette::Base));
    picBorder->setForeColor(qint32(0x80000012)); // a picture box's button-text colour
    picBorder->Cls();
    for (QPushButton *b : butAddMinus) {
        b->setFixedWidth(28);
        b->setAutoDefault(false);
    }
    lblBorderWidth->setMinimumWidth(32);
    lblBorderWidth->setAlignment(Qt::AlignCenter);

    auto *grid = new QGridLayout(this);
    grid->addWidget(lblBorder, 0, 0, 1, 4);
    grid->addWidget(butAddMinus[0], 1, 0);
    grid->addWidget(lblBorderWidth, 1, 1);
    grid->addWidget(butAddMinus[1], 1, 2);
    grid->setColumnStretch(3, 1);
    grid->addWidget(picBorder, 2, 0, 1, 4);
    grid->setRowStretch(3, 1);

    connect(butAddMinus[0], &QPushButton::clicked, this, &BorderSize::minus);
    connect(butAddMinus[1], &QPushButton::clicked, this, &BorderSize::plus);
}

void BorderSize::setSelectedControls(const QList<VeilixButton *> &controls)
{
    m_selected.clear();
    for (VeilixButton *b : controls)
        m_selected.append(b);
    SelectionChanged();
}

QList<VeilixButton *> BorderSize::selectedControls() const
{
    QList<VeilixButton *> list;
    for (const QPointer<VeilixButton> &b : m_selected) {
        if (b)
            list.append(b);
    }
    return list;
}

int BorderSize::editedValue() const
{
    bool ok = false;
    const double v = lblBorderWidth->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return 0;
    return std::clamp(int(std::trunc(std::clamp(v, -32768.0, 32767.0))), -32768, 32767);
}

void BorderSize::setChanged(bool changed)
{
    if (m_changed == changed)
        return;
    m_changed = changed;
    emit changedChanged(changed);
}

void BorderSize::setBorderText(const QString &text)
{
    if (lblBorderWidth->text() == text)
        return;
    lblBorderWidth->setText(text);
    Preview(); // the change of the shown number runs the preview
}

void BorderSize::SelectionChanged()
{
    const QList<VeilixButton *> list = selectedControls();
    if (list.isEmpty())
        return;
    const QString text = QString::number(list.first()->BorderWidth());
    if (lblBorderWidth->text() == text)
        Preview(); // the same number: the new selection is previewed all the same
    else
        setBorderText(text);
}

void BorderSize::Preview()
{
    const QList<VeilixButton *> list = selectedControls();
    if (list.isEmpty())
        return;
    qint16 b = qint16(editedValue());
    picBorder->Cls();
    modUniversal::Yield();
    const VeilixPicture picture = list.first()->PictureNormal();
    if (!picture.isNone()) {
        if (modUniversal::PaintSkin(picBorder, picture, b))
            modUniversal::Yield();
    }
    const int W = picBorder->ScaleWidth();
    const int H = picBorder->ScaleHeight();
    picBorder->DrawLine(b, 0, b, H);
    picBorder->DrawLine(W - b - 1, 0, W - b - 1, H);
    picBorder->DrawLine(0, b, W, b);
    picBorder->DrawLine(0, H - b - 1, W, H - b - 1);
    setBorderText(QString::number(b));
    modUniversal::Yield();
    setChanged(true);
}

void BorderSize::minus()
{
    const int v = editedValue();
    if (v > 1)
        setBorderText(QString::number(v - 1));
}

void BorderSize::plus()
{
    const int v = editedValue();
    if (float(picBorder->ScaleHeight()) / 2.0f - 1.0f > float(v))
        setBorderText(QString::number(v + 1));
}

void BorderSize::ApplyChanges()
{
    const QList<VeilixButton *> list = selectedControls();
    if (list.isEmpty())
        return;
    list.first()->setBorderWidth(editedValue());
}

void BorderSize::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    Preview();
}

void BorderSize::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    Preview();
}
