#include "mainwindow.h"
#include "testsupport.h"
#include "zarnsim.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

using testsupport::answerNextModal;

namespace {

struct DialogSeen
{
    bool seen = false;
    QString title;
    QStringList nameFilters;
    bool parentIsWindow = false;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptSave;
};

} // namespace

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
    auto *label = window.findChild<QLabel *>(QStringLiteral("label_2"));
    QVERIFY(label);
    QCOMPARE(label->text(),
             QStringLiteral("<html><head/><body><p>ZARN Update Utility</p><p>Version 1.1 build 88</p>"
                            "<p><br/></p><p>Velmora</p></body></html>"));

    // Shown as rich text: three lines, an empty one before the last. The
    // empty paragraph holds nothing but its line break.
    QCOMPARE(label->textFormat(), Qt::AutoText);
    QVERIFY(Qt::mightBeRichText(label->text()));
    QTextDocument document;
    document.setHtml(label->text());
    QStringList lines;
    for (QTextBlock block = document.begin(); block != document.end(); block = block.next())
        lines << block.text().remove(QChar::LineSeparator);
    QCOMPARE(lines, QStringList({"ZARN Update Utility", "Version 1.1 build 88", "", "Velmora"}));
}

void MainWindowTest::fileDialog_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("chosen"); // a file name in a scratch folder; empty: cancel

    QTest::newRow("cancel keeps a typed name") << "typed/update.zarnru" << QString();
    QTest::newRow("cancel keeps an odd typed name") << "no extension at all " << QString();
    QTest::newRow("cancel keeps an empty field") << QString() << QString();
    QTest::newRow("chosen update file replaces a typed name") << "typed.zarnru"
                                                              << "new.zarnru";
    QTest::newRow("chosen file of another kind, unchecked") << "typed.zarnru"
                                                            << "firmware.bin";
    QTest::newRow("chosen file without extension") << QString() << "image";
}

void MainWindowTest::fileDialog()
{
    QFETCH(QString, typed);
    QFETCH(QString, chosen);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString chosenPath = chosen.isEmpty() ? QString() : folder.filePath(chosen);
    if (!chosenPath.isEmpty()) {
        QFile file(chosenPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *field = window.findChild<QLineEdit *>(QStringLiteral("filenameLineEdit"));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("fileDialogButton"));
    QVERIFY(field && button);
    field->setText(typed);

    DialogSeen dialogSeen;
    const auto answered = answerNextModal([&](QWidget *modal) {
        // Being modal here, the dialog is the toolkit's own widget, not a native one.
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            testsupport::rejectModal(modal);
            return;
        }
        dialogSeen.seen = true;
        dialogSeen.title = dialog->windowTitle();
        dialogSeen.nameFilters = dialog->nameFilters();
        dialogSeen.parentIsWindow = dialog->parentWidget() == &window;
        dialogSeen.fileMode = dialog->fileMode();
        dialogSeen.acceptMode = dialog->acceptMode();
        if (chosenPath.isEmpty()) {
            dialog->reject();
            return;
        }
        // Typed into the dialog's own name field, as an operator would: selectFile()
        // leaves that field alone once it has the focus.
        auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!nameField) {
            dialog->reject();
            return;
        }
        nameField->setText(chosenPath);
        static_cast<QDialog *>(dialog)->accept(); // the override checks that the file exists
    });
    QTest::mouseClick(button, Qt::LeftButton);

    QVERIFY(answered->seen);
    QVERIFY2(dialogSeen.seen, qPrintable(answered->className));
    QCOMPARE(dialogSeen.title, QStringLiteral("Open ZARN Update Image file"));
    QCOMPARE(dialogSeen.nameFilters, QStringList{QStringLiteral("ZARN RU Image (*.zarnru)")});
    QVERIFY(dialogSeen.parentIsWindow);
    QCOMPARE(dialogSeen.fileMode, QFileDialog::ExistingFile);
    QCOMPARE(dialogSeen.acceptMode, QFileDialog::AcceptOpen);
    QCOMPARE(field->text(), chosenPath.isEmpty() ? typed : chosenPath);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
