#include "imageitem.h"

#include "accessiblenames.h"
#include "ui_imageitem.h"

ImageItem::ImageItem(QWidget *parent) : QWidget(parent), ui(new Ui::ImageItem)
{
    ui->setupUi(this);
    accessiblenames::describe(ui);
}

ImageItem::~ImageItem()
{
    delete ui;
}

void ImageItem::setValues(QString name, QString version, QString minHW, QString address, QString size)
{
    ui->nameLabel->setText(name);
    ui->versionLineEdit->setText(version);
    ui->minHWlineEdit->setText(minHW);
    ui->addresLineEdit->setText(address);
    ui->sizeLineEdit->setText(size);
}
