#pragma once

#include <QDialog>
#include <QString>

class LazyRows;
class QShowEvent;

namespace Ui {
class ImageInfoDialog;
}

// Lists the images of an update file, one row per image. The main window shows
// it for information and runs it modally to confirm an update.
class ImageInfoDialog final : public QDialog
{
    Q_OBJECT

public:
    explicit ImageInfoDialog(QWidget *parent = nullptr);
    ~ImageInfoDialog() override;

    void setFilename(QString filename);

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::ImageInfoDialog *ui;
    QString filename;
    LazyRows *rows;
};
