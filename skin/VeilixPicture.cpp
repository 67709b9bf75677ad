#include "VeilixControl/VeilixPicture.h"

#include <QImageReader>

VeilixPicture::VeilixPicture(const QImage &image)
    : m_object(true)
    , m_image(image)
{ }

VeilixPicture::VeilixPicture(const QPixmap &pixmap)
    : m_object(true)
    , m_image(pixmap.toImage())
{ }

VeilixPicture VeilixPicture::empty()
{
    return VeilixPicture(QImage());
}

VeilixPicture VeilixPicture::fromFile(const QString &path)
{
    QImageReader reader(path);
    return VeilixPicture(reader.read());
}
