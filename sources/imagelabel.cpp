#include "imagelabel.h"

#include <QPainter>

ImageLabel::ImageLabel(QWidget* parent) : QLabel(parent)
{
}

void ImageLabel::setImage(QString fileName)
{
    // QIcon also picks up a "@2x" sibling when the screen needs it.
    icon.addFile(fileName, QSize(), QIcon::Normal, QIcon::Off);
    update();
}

void ImageLabel::paintEvent(QPaintEvent* event)
{
    // Qt calls an icon non-null once it was given any file name, even one it could not read;
    // only an icon with an image of its own replaces the label's painting.
    if (icon.isNull() || icon.availableSizes(QIcon::Normal, QIcon::Off).isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    icon.paint(&painter, rect(), Qt::AlignCenter, QIcon::Normal, QIcon::Off);
}
