#include "imageinfodialog.h"

#include "ui_imageinfodialog.h"

ImageInfoDialog::ImageInfoDialog(QWidget *parent) : QDialog(parent), ui(new Ui::ImageInfoDialog)
{
    ui->setupUi(this);
}

ImageInfoDialog::~ImageInfoDialog()
{
    delete ui;
}

void ImageInfoDialog::setFilename(QString filename)
{
    this->filename = filename;
}

void ImageInfoDialog::showEvent(QShowEvent *) {}
