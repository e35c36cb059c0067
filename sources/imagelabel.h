#pragma once

#include <QIcon>
#include <QLabel>

// A label that, once given an image, paints it as an icon fitted and centred into its
// rectangle, so that Qt picks the "@2x" file on a double-density screen.
class ImageLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ImageLabel(QWidget* parent = nullptr);

    void setImage(QString fileName);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon icon;
};
