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

VeilixPicture VeilixPicture::fromFile(const QString &path, qreal devicePixelRatio)
{
    if (devicePixelRatio > 1.0) {
        const qsizetype dot = path.lastIndexOf(u'.');
        const qsizetype slash = path.lastIndexOf(u'/');
        const QString doubled = dot > slash ? QString(path.left(dot) + QStringLiteral("@2x") + path.mid(dot))
                                            : QString(path + QStringLiteral("@2x"));
        QImageReader reader(doubled);
        QImage image = reader.read();
        if (!image.isNull()) {
            image.setDevicePixelRatio(2.0);
            return VeilixPicture(image);
        }
    }
    return fromFile(path);
}
