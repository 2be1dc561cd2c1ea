// The main window as the program builds it: its forms against the committed
// reference, the About text, the file dialog, the force flag of the command
// line, and the installed versions, asked of the mailbox, with and without it.

#include "commandline.h"
#include "mainwindow.h"
#include "operatorlanguage.h"
#include "runhistory.h"
#include "runkit.h"
#include "ui_imageinfodialog.h"
#include "ui_imageitem.h"
#include "ui_mainwindow.h"
#include "zarnsystem.h"

#include <cerrno>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

using namespace runkit;
using testsupport::ModalWatcher;

namespace {

// One widget: its name and class, then what the program relies on: texts,
// alignment, a disabled field, a larger font, a progress range, the logo.
QString describe(QWidget *widget)
{
    QString line = widget->objectName() + ' ' + widget->metaObject()->className();
    for (const char *name : {"windowTitle", "text", "placeholderText"})
        if (!widget->property(name).toString().isEmpty())
            line += QStringLiteral(" %1='%2'").arg(name, widget->property(name).toString());
    for (const char *name : {"alignment", "standardButtons"})
        if (widget->property(name).isValid())
            line += QString::asprintf(" %s=0x%x", name, widget->property(name).toInt());
    if (auto *bar = qobject_cast<QProgressBar *>(widget))
        line += QString::asprintf(" %d..%d at %d", bar->minimum(), bar->maximum(), bar->value());
    const QPixmap logo = widget->property("pixmap").value<QPixmap>();
    if (!logo.isNull())
        line += QString::asprintf(" pixmap %dx%d", logo.width(), logo.height());
    if (!widget->isEnabled())
        line += QStringLiteral(" disabled");
    if (widget->font().pointSize() != QApplication::font(widget).pointSize())
        line += QString::asprintf(" %dpt", widget->font().pointSize());
    return line;
}

// The tree of a layout, one space of indent per level; the children of a form
// layout start with their row and role.
void dump(QLayoutItem *item, const QString &indent, QStringList &lines)
{
    if (item->widget() || item->spacerItem())
        lines << indent + (item->widget() ? describe(item->widget()) : QStringLiteral("spacer"));
    if (QLayout *layout = item->layout()) {
        lines << indent + layout->objectName() + ' ' + layout->metaObject()->className();
        auto *form = qobject_cast<QFormLayout *>(layout);
        for (int i = 0, row = 0; i < layout->count(); ++i) {
            QFormLayout::ItemRole role = QFormLayout::LabelRole;
            if (form)
                form->getItemPosition(i, &row, &role);
            dump(layout->itemAt(i), indent + (form ? QString::asprintf(" %d%c ", row, "LFS"[role]) : " "),
                 lines);
        }
    }
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        zarnsim::reset(); // a mailbox that answers: no box in the way
        openWithoutDriver = false;
    }
    void cleanupTestCase() { openWithoutDriver = false; }
    void formMatchesReference();
    void fileDialog();
    void forceFlag_data();
    void forceFlag();
    void versionsShown_data();
    void versionsShown();
    void driverMissing_data();
    void driverMissing();
    void speaksTheLanguage_data();
    void speaksTheLanguage();
};

// The form built on a plain window and shown, as one text. On a change the
// message names the first line that differs, and the whole text is left
// beside the test, to compare with the reference or to take its place.
void MainWindowTest::formMatchesReference()
{
    QMainWindow window;
    Ui::MainWindow ui;
    ui.setupUi(&window);
    const QRect menu = ui.menuBar->geometry(); // as the form sets it
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QStringList lines{describe(&window) + QString::asprintf(" %dx%d policy %d/%d", window.width(),
                                                            window.height(),
                                                            window.sizePolicy().horizontalPolicy(),
                                                            window.sizePolicy().verticalPolicy()),
                      ' ' + describe(ui.centralWidget)};
    dump(ui.centralWidget->layout(), QStringLiteral("  "), lines);
    lines << ' ' + describe(ui.menuBar) +
                 QString::asprintf(" at %d,%d %dx%d", menu.x(), menu.y(), menu.width(), menu.height())
          << ' ' + describe(ui.mainToolBar) +
                 QString::asprintf(" area %d", window.toolBarArea(ui.mainToolBar))
          << ' ' + describe(ui.statusBar);
    // The image information dialog and its row, in their own sizes: the list gives each row the row's.
    QDialog dialog;
    Ui::ImageInfoDialog dialogUi;
    dialogUi.setupUi(&dialog);
    QWidget row;
    Ui::ImageItem rowUi;
    rowUi.setupUi(&row);
    for (QWidget *form : {static_cast<QWidget *>(&dialog), &row}) {
        lines << describe(form) + QString::asprintf(" %dx%d", form->width(), form->height());
        dump(form->layout(), QStringLiteral(" "), lines);
    }

    QFile reference(QStringLiteral(MAINWINDOW_REFERENCE));
    QVERIFY(reference.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList expected = QString::fromUtf8(reference.readAll()).split('\n', Qt::SkipEmptyParts);
    int at = 0;
    while (at < lines.size() && lines.value(at) == expected.value(at))
        ++at;
    QFile actual(QStringLiteral("mainwindow.actual"));
    QVERIFY(actual.open(QIODevice::WriteOnly | QIODevice::Text) &&
            actual.write(lines.join('\n').toUtf8() + '\n') > 0);
    QVERIFY2(lines == expected,
             qPrintable(QStringLiteral("the forms differ from %1 at line %2:\n  expected: %3\n  "
                                       "actual:   %4\nall of it: %5")
                            .arg(reference.fileName())
                            .arg(at + 1)
                            .arg(expected.value(at, "(end)"), lines.value(at, "(end)"),
                                 QFileInfo(actual).absoluteFilePath())));
}

// Cancelled, the dialog leaves a typed name alone; a file chosen in it
// replaces the name, whatever its kind.
void MainWindowTest::fileDialog()
{
    QTemporaryDir folder;
    const QString chosen = folder.filePath(QStringLiteral("firmware.bin"));
    QFile file(chosen);
    QVERIFY(file.open(QIODevice::WriteOnly));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *field = child<QLineEdit>(window, "filenameLineEdit");
    field->setText(QStringLiteral("typed.zarnru"));
    for (const bool choose : {false, true}) {
        QStringList seen;
        ModalWatcher modals([&](QWidget *modal) {
            // Being modal here, the dialog is the toolkit's own widget, not a native one.
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            seen << modal->windowTitle() << (dialog ? dialog->nameFilters() : QStringList())
                 << QString::number(modal->parentWidget() == &window)
                 << QString::number(dialog && dialog->fileMode() == QFileDialog::ExistingFile &&
                                    dialog->acceptMode() == QFileDialog::AcceptOpen);
            if (!choose || !dialog)
                return testsupport::rejectModal(modal);
            modal->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(chosen); // typed into it
            static_cast<QDialog *>(dialog)->accept(); // the override checks that the file exists
        });
        QTest::mouseClick(child<QPushButton>(window, "fileDialogButton"), Qt::LeftButton);
        QCOMPARE(seen, QStringList({"Open ZARN Update Image file", "ZARN RU Image (*.zarnru)", "1", "1"}));
        QCOMPARE(field->text(), choose ? chosen : QStringLiteral("typed.zarnru"));
    }
}

void MainWindowTest::forceFlag_data()
{
    QTest::addColumn<QStringList>("arguments"); // after the program name
    QTest::addColumn<bool>("force");
    QTest::newRow("no argument") << QStringList() << false;
    QTest::newRow("-f alone") << QStringList{"-f"} << true;
    QTest::newRow("-f, more follow") << QStringList{"-f", "update.zarnru", "--force"} << true;
    QTest::newRow("--force alone") << QStringList{"--force"} << true;
    QTest::newRow("--force, more follow") << QStringList{"--force", "x"} << true;
    QTest::newRow("-f second") << QStringList{"update.zarnru", "-f"} << false;
    QTest::newRow("--force third") << QStringList{"a", "b", "--force"} << false;
    QTest::newRow("-F") << QStringList{"-F"} << false;
    QTest::newRow("-force") << QStringList{"-force"} << false;
    QTest::newRow("--force=1") << QStringList{"--force=1"} << false;
    QTest::newRow("--force with trailing blank") << QStringList{"--force "} << false;
    QTest::newRow("-platform first") << QStringList{"-platform", "offscreen", "-f"} << false;
}

void MainWindowTest::forceFlag()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, force);
    // Laid out as the process receives it: the program name, the arguments, a null pointer.
    QList<QByteArray> storage{QByteArrayLiteral("zarn-update-utility")};
    for (const QString &argument : arguments)
        storage.append(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    testsupport::MessageLog log;
    QCOMPARE(applyForceFlag(int(argv.size()) - 1, argv.data()), force);
    QCOMPARE(openWithoutDriver, force);
    QCOMPARE(log.messages(), force ? QStringList{"openWithoutDriver: ON"} : QStringList());
    for (int i = 0; i < storage.size(); ++i) // left as they were for the application object
        QCOMPARE(QByteArray(argv[size_t(i)]), storage.at(i));
}

void MainWindowTest::versionsShown_data()
{
    QTest::addColumn<QList<quint32>>("answers"); // software, timestamp, PID, first flags, later flags
    QTest::addColumn<QString>("shown");          // timestamp, software, PID
    QTest::addColumn<int>("requests");

    // Least significant byte first; the last two run together.
    QTest::newRow("1.2.34") << QList<quint32>{0x04030201, 0xFFFFFFFF, 0x0A0B0C0D, 0, 0}
                            << "4294967295 1.2.34 13.12.1110" << 3;
    QTest::newRow("all zero") << QList<quint32>{0, 0, 0, 0, 0} << "0 0.0.00 0.0.00" << 3;
    QTest::newRow("all ones") << QList<quint32>{0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0}
                              << "4294967295 255.255.255255 255.255.255255" << 3;
    QTest::newRow("flags 0x7 ignored")
        << QList<quint32>{0x04030201, 7, 0x00020301, 7, 0} << "7 1.2.34 1.3.20" << 3;
    // All four flags in the first answer: no versions to give, fixed ones stand in.
    QTest::newRow("flags 0xF: fixed values")
        << QList<quint32>{0x04030201, 7, 0x00020301, 0xF, 0} << "1406615411 0.0.90 0.0.90" << 1;
    QTest::newRow("flags 0xF after the first answer ignored")
        << QList<quint32>{0x04030201, 7, 0x00020301, 0, 0xF} << "7 1.2.34 1.3.20" << 3;
}

// Each request in a record cleared but for its command: the device answers
// into the other words, and a record reused as it came back would carry them.
void MainWindowTest::versionsShown()
{
    QFETCH(QList<quint32>, answers);
    QFETCH(QString, shown);
    QFETCH(int, requests);
    zarnsim::setMailboxAnswers(answers[0], answers[1], answers[2]);
    zarnsim::setMailboxFlags(answers[3]);
    if (answers[4])
        zarnsim::setMailboxLaterFlags(answers[4]);
    ModalWatcher modals;
    MainWindow window;
    QVERIFY(modals.seen.isEmpty());
    QCOMPARE(child<QLabel>(window, "label_2")->text(), // the About text, from the build's version
             QStringLiteral("<html><head/><body><p>ZARN Update Utility</p><p>Version 1.1 build 88</p>"
                            "<p><br/></p><p>Velmora</p></body></html>"));
    QCOMPARE(QStringList({child<QLineEdit>(window, "curVerTSLineEdit")->text(),
                          child<QLineEdit>(window, "curVerSWLineEdit")->text(),
                          child<QLineEdit>(window, "curPIDverLineEdit")->text()})
                 .join(' '),
             shown);
    // The requests are made whatever the caller wants to see.
    QCOMPARE(ZARNsystem::getSystemVersion(nullptr, nullptr, nullptr), 0);
    // Open for reading and writing, the requests, each in a clean record, the close; once for the window,
    // once here.
    QStringList exchange;
    for (const zarnsim::Call &call : zarnsim::record()) {
        const bool clean =
            std::all_of(call.mailboxWords.begin() + 1, call.mailboxWords.end(), [](quint32 w) { return !w; });
        exchange << QString::asprintf("%d %x %x%s", int(call.op), call.flags, call.command,
                                      clean ? "" : " dirty");
    }
    const QStringList once = QStringList{"0 2 0", "2 0 101", "2 0 201", "2 0 301"}.mid(0, requests + 1)
                             << "1 0 0";
    QCOMPARE(exchange, once + once);
}

void MainWindowTest::driverMissing_data()
{
    QTest::addColumn<bool>("force");
    QTest::addColumn<unsigned>("failingRequest"); // 0: the node is missing
    QTest::newRow("no node") << false << 0u;
    QTest::newRow("no node, force mode") << true << 0u;
    QTest::newRow("second request fails") << false << 2u; // the box names the device all the same
}

// The box comes from the constructor, before the window is shown; the window
// closes as soon as the event loop runs, unless forced open.
void MainWindowTest::driverMissing()
{
    QFETCH(bool, force);
    QFETCH(unsigned, failingRequest);
    if (failingRequest)
        zarnsim::failMailboxRequest(failingRequest, EIO);
    else
        zarnsim::setNodeError(zarnsim::Node::Mailbox, ENOENT);
    openWithoutDriver = force;
    ModalWatcher modals;
    MainWindow window;
    const QStringList box{
        QString::asprintf("QMessageBox|Cannot open file|System file /dev/zarn_mailbox could not be "
                          "opened.\n\nPlease check if ZARN driver is loaded.\nApplication will "
                          "now quit.\n|%d|0x%x|1|0|0",
                          QMessageBox::Critical, unsigned(QMessageBox::Ok))};
    QCOMPARE(modals.seen, box);
    QCOMPARE(child<QLineEdit>(window, "curVerSWLineEdit")->text(), QString());
    window.show();
    bool loopRan = false;
    QTimer::singleShot(0, [&loopRan] { loopRan = true; });
    QVERIFY(testsupport::waitFor([&] { return loopRan; }));
    QCOMPARE(window.isVisible(), force);
    QCOMPARE(modals.seen, box);
}

void MainWindowTest::speaksTheLanguage_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QStringList>("said"); // Update, a caption, the status line, the status bar
    const QStringList english{"Update", "Current SW version:", doneLine,
                              "The update is complete: the flash memory holds the update file, read back and "
                              "verified."};
    QTest::newRow("C.UTF-8: as written") << QByteArray("C.UTF-8") << false << english;
    QTest::newRow("no translation: as written") << QByteArray("es_ES.UTF-8") << false << english;
    QTest::newRow("German") << QByteArray("de_DE.UTF-8") << false
                            << QStringList{
                                   "Aktualisieren", "Aktuelle SW-Version:",
                                   "Aktualisierung abgeschlossen. Der Computer kann jetzt gefahrlos neu "
                                   "gestartet werden.",
                                   "Die Aktualisierung ist abgeschlossen: Der Flash-Speicher enthält die "
                                   "Aktualisierungsdatei, zurückgelesen und geprüft."};
    QTest::newRow("French") << QByteArray("fr_FR.UTF-8") << false
                            << QStringList{
                                   "Mettre à jour", "Version SW actuelle :",
                                   "Mise à jour terminée. L'ordinateur peut maintenant être redémarré "
                                   "sans risque.",
                                   "La mise à jour est terminée : la mémoire flash contient le fichier de "
                                   "mise à jour, relu et vérifié."};
    QTest::newRow("German, a word that cannot be mended")
        << QByteArray("de_DE.UTF-8") << true
        << QStringList{"Aktualisieren",
                       "Aktuelle SW-Version:", "Fehler beim Prüfen des Flash-Speichers bei 0x80100",
                       "Die Aktualisierung ist fehlgeschlagen: Das ZARN-System startet möglicherweise nicht. "
                       "Führen Sie die Aktualisierung erneut aus, bevor Sie den Computer neu starten."};
}

// The window in the operator's language, read by the widgets' names; the
// run's own line, as the history keeps it, stays in English.
void MainWindowTest::speaksTheLanguage()
{
    QFETCH(QByteArray, locale);
    QFETCH(bool, fails);
    QFETCH(QStringList, said);
    qputenv("LC_ALL", locale);
    operatorlanguage::install(QStringLiteral(ZARN_TRANSLATIONS));
    const auto backToC = qScopeGuard([] {
        qputenv("LC_ALL", "C.UTF-8");
        operatorlanguage::install(QStringLiteral(ZARN_TRANSLATIONS));
    });
    if (fails)
        zarnsim::addStuckBits(0x80100, 0x01);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("update.zarnru"));
    QVERIFY(updatefile::writeFile(path, threeImages()));
    RunWatcher runs;
    MainWindow window;
    window.show();
    QVERIFY(startRun(window, path));
    QVERIFY(waitForRun(window, runs));
    QCOMPARE(
        (QStringList{updateButton(window)->text(), child<QLabel>(window, "curVerSWLabel")->text(),
                     child<QLabel>(window, "statusLabel")->text(), window.statusBar()->currentMessage()}),
        said);
    QCOMPARE(flashHolds(threeImages()), !fails);
    const QList<HistoryEntry> entries = RunHistory().entries();
    QVERIFY(!entries.isEmpty());
    QCOMPARE(entries.last().lastLine,
             fails ? QStringLiteral("Error verifying Flash memory at 0x80100") : doneLine);
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
