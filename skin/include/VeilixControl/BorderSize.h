#pragma once

#include "VeilixControl/VeilixControlExport.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class DrawSurface;
class QLabel;
class QPushButton;
class VeilixButton;

// The page that edits a skinned button's BorderWidth while showing the button's normal picture
// with the frame marked by guide lines. It works on a list of selected buttons: the first one is
// previewed and is the only one changed by ApplyChanges.
class VEILIXCONTROL_EXPORT BorderSize final : public QWidget
{
    Q_OBJECT
public:
    explicit BorderSize(QWidget *parent = nullptr);

    void setSelectedControls(const QList<VeilixButton *> &controls); // runs SelectionChanged
    QList<VeilixButton *> selectedControls() const;

    void SelectionChanged();
    void ApplyChanges();
    void Preview();

    // The whole number shown in lblBorderWidth.
    int editedValue() const;
    bool changed() const { return m_changed; }
    void setChanged(bool changed);

    QLabel *lblBorder;
    QLabel *lblBorderWidth;
    QPushButton *butAddMinus[2];
    DrawSurface *picBorder;

signals:
    void changedChanged(bool changed);

protected:
    void showEvent(QShowEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    void setBorderText(const QString &text);
    void minus();
    void plus();

    QList<QPointer<VeilixButton>> m_selected;
    bool m_changed = false;
};
