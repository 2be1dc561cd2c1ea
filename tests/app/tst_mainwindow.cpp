#include "mainwindow.h"
#include "testsupport.h"
#include "zarnsim.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { zarnsim::reset(); } // a mailbox that answers: no box in the way
    void aboutBanner();
    void fileDialog_data();
    void fileDialog();
};

void MainWindowTest::aboutBanner()
{
    MainWindow window;
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("label_2"))->text(),
             QStringLiteral("<html><head/><body><p>ZARN Update Utility</p><p>Version 1.1 build 88</p>"
                            "<p><br/></p><p>Velmora</p></body></html>"));
}

void MainWindowTest::fileDialog_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosen"); // a file name in a scratch folder; empty: cancel

    QTest::newRow("cancel keeps a typed name") << "typed/update.zarnru" << QString();
    QTest::newRow("chosen update file replaces a typed name") << "typed.zarnru"
                                                              << "new.zarnru";
    QTest::newRow("chosen file of another kind, unchecked") << "typed.zarnru"
                                                            << "firmware.bin";
}

void MainWindowTest::fileDialog()
{
    QFETCH(QString, typed);
    QFETCH(QString, chosen);
    QTemporaryDir folder;
    const QString chosenPath = chosen.isEmpty() ? QString() : folder.filePath(chosen);
    if (!chosenPath.isEmpty()) {
        QFile file(chosenPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *field = window.findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"));
    field->setText(typed);

    QStringList seen;
    const auto answered = testsupport::answerNextModal([&](QWidget *modal) {
        // Being modal here, the dialog is the toolkit's own widget, not a native one.
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        auto *nameField = modal->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!dialog || !nameField || chosenPath.isEmpty())
            return testsupport::rejectModal(modal);
        seen << dialog->windowTitle() << dialog->nameFilters()
             << QString::number(dialog->parentWidget() == &window) << QString::number(dialog->fileMode())
             << QString::number(dialog->acceptMode());
        // Typed into the dialog's own name field, as an operator would.
        nameField->setText(chosenPath);
        static_cast<QDialog *>(dialog)->accept(); // the override checks that the file exists
    });
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("fileDialogButton")), Qt::LeftButton);

    QVERIFY(answered->seen);
    QCOMPARE(answered->className, QStringLiteral("QFileDialog"));
    QCOMPARE(field->text(), chosenPath.isEmpty() ? typed : chosenPath);
    if (!chosenPath.isEmpty())
        QCOMPARE(seen, QStringList({"Open ZARN Update Image file", "ZARN RU Image (*.zarnru)", "1",
                                    QString::number(QFileDialog::ExistingFile),
                                    QString::number(QFileDialog::AcceptOpen)}));
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
