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

    bool isNone() const { return !m_object; }
    bool isEmpty() const { return m_object && m_image.isNull(); }
    // True when the picture holds an image ("has a bitmap").
    bool hasImage() const { return m_object && !m_image.isNull(); }

    const QImage &image() const { return m_image; }
    QPixmap pixmap() const { return QPixmap::fromImage(m_image); }
    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }
    QSize size() const { return m_image.size(); }

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
