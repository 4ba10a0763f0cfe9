#include "ui/mainwindow/programicon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace {

const QString iconResource = QStringLiteral(":/icons/zelvo-footswitch2.svg");

QImage render(QSvgRenderer &renderer, int size)
{
    if (!renderer.isValid() || size <= 0)
        return {};

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // Keep the drawing's own proportions: scale its longer side to the
    // square and centre the shorter one.
    const QSizeF drawing = renderer.viewBoxF().size();
    const qreal scale = size / qMax(drawing.width(), drawing.height());
    const QSizeF placed = drawing * scale;
    const QRectF target(QPointF((size - placed.width()) / 2, (size - placed.height()) / 2), placed);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, target);
    return image;
}

} // namespace

QImage programIconImage(int size)
{
    QSvgRenderer renderer(iconResource);
    return render(renderer, size);
}

QIcon programIcon()
{
    // Drawn here rather than through the SVG icon engine plugin, so that the
    // icon does not depend on a plugin being installed.
    QSvgRenderer renderer(iconResource);
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QImage image = render(renderer, size);
        if (!image.isNull())
            icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}
