#pragma once

#include "VeilixControl/VeilixControlExport.h"

#include <QImage>
#include <QMetaType>
#include <QPixmap>
#include <QSize>

// A picture property of the controls. It is either none (no picture object at all), empty (an
// object that holds no image) or it holds an image. The difference between none and empty matters:
// an empty mask picture, for instance, is used (and found wanting), while none is skipped.
class VEILIXCONTROL_EXPORT VeilixPicture final
{
public:
    VeilixPicture() = default; // none
    explicit VeilixPicture(const QImage &image); // a null image gives an empty picture
    explicit VeilixPicture(const QPixmap &pixmap);

    static VeilixPicture none() { return {}; }
    static VeilixPicture empty();
    // Loads an image file (or a Qt resource); a file that cannot be read gives an empty picture.
    static VeilixPicture fromFile(const QString &path);
    // The same for a screen of this device pixel ratio: above 1, the file's "@2x" edition
    // ("face@2x.png" beside "face.png") when there is one, with a device pixel ratio of 2.
    static VeilixPicture fromFile(const QString &path, qreal devicePixelRatio);

    bool isNone() const { return !m_object; }
    bool isEmpty() const { return m_object && m_image.isNull(); }
    // True when the picture holds an image ("has a bitmap").
    bool hasImage() const { return m_object && !m_image.isNull(); }

    const QImage &image() const { return m_image; }
    QPixmap pixmap() const { return QPixmap::fromImage(m_image); }
    // The size in device-independent pixels: the image's pixels divided by its device pixel
    // ratio (the same for an ordinary image of ratio 1).
    int width() const { return size().width(); }
    int height() const { return size().height(); }
    QSize size() const { return m_image.deviceIndependentSize().toSize(); }

    friend bool operator==(const VeilixPicture &a, const VeilixPicture &b)
    {
        return a.m_object == b.m_object && a.m_image == b.m_image;
    }
    friend bool operator!=(const VeilixPicture &a, const VeilixPicture &b) { return !(a == b); }

private:
    bool m_object = false;
    QImage m_image;
};

Q_DECLARE_METATYPE(VeilixPicture)
