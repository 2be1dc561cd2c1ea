#pragma once

#include <memory>
#include <QDialog>
#include <QString>

class LazyRows;
class QShowEvent;
class UpdateSnapshot;

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
    // For the confirmation: lists these bytes, the ones the update will write,
    // on the next show. A new file name forgets them.
    void setSnapshot(std::shared_ptr<const UpdateSnapshot> snapshot);

protected:
    void showEvent(QShowEvent *event) override;

private:
    Ui::ImageInfoDialog *ui;
    QString filename;
    std::shared_ptr<const UpdateSnapshot> snapshot;
    LazyRows *rows;
};
