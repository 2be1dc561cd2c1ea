#include "imageinfodialog.h"

#include "accessiblenames.h"
#include "imageitem.h"
#include "imagetext.h"
#include "lazyrows.h"
#include "ui_imageinfodialog.h"
#include "updatefilereader.h"
#include "updaterthread.h"
#include "updatesnapshot.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QList>
#include <QListWidgetItem>
#include <QSize>

namespace {

// Every row gets the size of the row form, so the list never squeezes it.
const QSize rowSizeHint(465, 128);

// Name, version, minimum hardware, address and size, as the row shows them.
QStringList rowTexts(const UpdaterThread::imgHeader &image)
{
    return {imagetext::name(image), imagetext::version(image.version), QString::number(image.minHW),
            imagetext::address(image.address), QString::number(image.size)};
}

// An item of the list. Its row widget is not part of the list's accessible
// tree, so the item itself says what the row shows, built only when asked.
class ImageRow final : public QListWidgetItem
{
public:
    ImageRow(const QList<UpdaterThread::imgHeader> &images, int row)
        : QListWidgetItem(nullptr, QListWidgetItem::Type), images(images), row(row)
    {
    }

    QVariant data(int role) const override
    {
        if (role == Qt::AccessibleTextRole)
            return accessiblenames::imageRow(rowTexts(images.at(row)));
        return QListWidgetItem::data(role);
    }

private:
    QList<UpdaterThread::imgHeader> images; // shared with every other row
    int row;
};

} // namespace

ImageInfoDialog::ImageInfoDialog(QWidget *parent) : QDialog(parent), ui(new Ui::ImageInfoDialog)
{
    ui->setupUi(this);
    accessiblenames::describe(ui);
    // Every row has the size of the row form, so the list need not measure ten thousand of them.
    ui->listWidget->setUniformItemSizes(true);
    rows = new LazyRows(ui->listWidget, this);
}

ImageInfoDialog::~ImageInfoDialog()
{
    delete ui;
}

void ImageInfoDialog::setFilename(QString filename)
{
    this->filename = filename;
    snapshot.reset();
    ui->filenameLineEdit->setText(filename);
}

void ImageInfoDialog::setSnapshot(std::shared_ptr<const UpdateSnapshot> snapshot)
{
    this->snapshot = std::move(snapshot);
}

// Read on every show, so both the information view and the confirmation list
// the file as it is now. The base class is left out on purpose: it would only
// re-centre the dialog over the window.
void ImageInfoDialog::showEvent(QShowEvent *)
{
    qDebug() << "virtual void ImageInfoDialog::showEvent(QShowEvent*)";

    ui->listWidget->clear();

    QList<UpdaterThread::imgHeader> images;
    QFile confirmedBytes;
    if (!snapshot)
        UpdaterThread::getHeaderInfo(filename, &images);
    else if (snapshot->open(confirmedBytes))
        updatefilereader::readHeaders(confirmedBytes, &images);

    // Every row is there at once, each with the size of the row form; the row
    // widgets follow as rows come into view.
    for (int i = 0; i < images.size(); ++i) {
        auto *item = new ImageRow(images, i);
        item->setSizeHint(rowSizeHint);
        ui->listWidget->insertItem(ui->listWidget->count(), item);
    }
    rows->reset([images](int row) {
        const QStringList texts = rowTexts(images.at(row));
        auto *widget = new ImageItem(nullptr);
        widget->setValues(texts[0], texts[1], texts[2], texts[3], texts[4]);
        return widget;
    });
}
