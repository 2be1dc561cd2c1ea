#pragma once

#include <QString>
#include <QWidget>

namespace Ui {
class ImageItem;
}

// One row of the image information list: an image's name and its four values.
class ImageItem final : public QWidget
{
    Q_OBJECT

public:
    explicit ImageItem(QWidget *parent = nullptr);
    ~ImageItem() override;

    void setValues(QString name, QString version, QString minHW, QString address, QString size);

private:
    Ui::ImageItem *ui;
};
