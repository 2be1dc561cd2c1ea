#include "imageitem.h"

#include "ui_imageitem.h"

ImageItem::ImageItem(QWidget *parent) : QWidget(parent), ui(new Ui::ImageItem)
{
    ui->setupUi(this);
}

ImageItem::~ImageItem()
{
    delete ui;
}

void ImageItem::setValues(QString, QString, QString, QString, QString) {}
