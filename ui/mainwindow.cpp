#include "mainwindow.h"

#include "accessiblenames.h"
#include "changedpages.h"
#include "elapsedclock.h"
#include "flashio.h"
#include "forcemode.h"
#include "imageinfodialog.h"
#include "imagetext.h"
#include "operatorlanguage.h"
#include "preflight.h"
#include "recoveryoffer.h"
#include "runannouncer.h"
#include "runframes.h"
#include "runguard.h"
#include "runhistory.h"
#include "runoutcomeview.h"
#include "runsession.h"
#include "runyield.h"
#include "sitesettings.h"
#include "ui_mainwindow.h"
#include "updaterthread.h"
#include "updaterunner.h"
#include "updatesnapshot.h"
#include "windowapplication.h"
#include "windowstartup.h"
#include "zarndriver.h"
#include "zarnsystem.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QList>
#include <QMessageBox>
#include <QProgressBar>
#include <QStatusBar>
#include <QStringList>
#include <QThread>
#include <QTimer>

bool openWithoutDriver = false;

namespace {

// How many progress reports a run may send before the window has shown them:
// enough that a window merely busy painting never holds up the flash (the
// worker waits only for one that has fallen a whole second of a fast device
// behind), few enough that the reports waiting stay a few hundred KiB.
const int reportsAhead = 1024;

// From the project's version, written once in the build.
const char *const version = ZARN_VERSION;
const int buildNumber = ZARN_BUILD_NUMBER;

const char *const updateFileExtension = "zarnru";

// A count of seconds as a time of day in UTC, "hh:mm:ss": whole days drop out.
QString formatSeconds(quint32 seconds)
{
    const quint32 ofDay = seconds % 86400;
    return QString::asprintf("%02u:%02u:%02u", ofDay / 3600, ofDay / 60 % 60, ofDay % 60);
}

// Asks whether to go on with an update that a check advises against, saying
// why; "No" is the default, so that a hurried Enter changes nothing.
bool goOnAllTheSame(QWidget *parent, const QString &title, const QString &checkReason)
{
    const QString reason = operatorlanguage::shown(checkReason);
    QMessageBox box(QMessageBox::Warning, title,
                    reason.left(1).toUpper() + reason.mid(1) +
                        QCoreApplication::translate("MainWindow", ".\n\nUpdate all the same?"),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

// The title of the box that asks about a concern.
QString concernTitle(preflight::Concern::Kind kind)
{
    switch (kind) {
    case preflight::Concern::Kind::LowPower:
        return MainWindow::tr("Battery low");
    case preflight::Concern::Kind::NoRoomForCopies:
        return MainWindow::tr("No room for a recovery copy");
    case preflight::Concern::Kind::Downgrade:
        return MainWindow::tr("Older image");
    case preflight::Concern::Kind::OlderHardware:
    case preflight::Concern::Kind::UnknownHardware:
        break;
    }
    return MainWindow::tr("Hardware requirement");
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    ui->label_2->setText(QStringLiteral("<html><head/><body><p>ZARN Update Utility</p><p>") +
                         tr("Version %1 build %2").arg(QLatin1String(version)).arg(buildNumber) +
                         QStringLiteral("</p><p><br/></p><p>Velmora</p></body></html>"));
    accessiblenames::describe(ui);
    WindowApplication::bundleReportsTo(this);

    qDebug() << "Test qDebug ";

    // getSystemVersion's query, with the cause of a failure kept beside it.
    const ZARNsystem::Versions installed = ZARNsystem::query();
    if (installed.status < 0) {
        // The window is not shown yet, so the box has no parent; built by hand
        // so that OK is not made its default button.
        QMessageBox box(QMessageBox::Critical, tr("Cannot open file"),
                        tr("System file ") + QLatin1String(zarndriver::mailboxPath) +
                            tr(" could not be opened.\n\nPlease check if ZARN driver is loaded.\n"
                               "Application will now quit.\n"),
                        QMessageBox::Ok);
        // The text above is right when the driver is not loaded; any other
        // cause is named beside it.
        const QString cause = flashio::openFailureCause(installed.error);
        if (!cause.isEmpty())
            box.setInformativeText(operatorlanguage::shown(cause) + QLatin1Char('.'));
        box.exec();
        if (!openWithoutDriver)
            QTimer::singleShot(0, this, &QWidget::close);
    }
    ui->curVerTSLineEdit->setText(installed.hwTimestamp);
    ui->curVerSWLineEdit->setText(installed.swVersion);
    ui->curPIDverLineEdit->setText(installed.pidVersion);

    connect(ui->fileDialogButton, &QPushButton::released, this, &MainWindow::FileDialogButton_released);
    connect(ui->startUpdateButton, &QPushButton::released, this, &MainWindow::startUpdateButton_released);

    imageInfoDialog = new ImageInfoDialog(this);
    runSession = new RunSession(this);
    new RunOutcomeView(runSession, ui->statusLabel, statusBar(), this);
    new RunYield(runSession, this);
    startup = new WindowStartup(this, [this] {
        // The guards connect to the buses; the window is drawn without waiting for them.
        new RunGuard(this, runSession);
        // An update that a power cut or a kill ended is said before anything else is done,
        // and offered to be finished or undone where the journal kept its copies.
        if (const QStringList notices =
                RunHistory::journalNotes() + RunHistory().notices() + sitesettings::notes();
            !notices.isEmpty())
            statusBar()->showMessage(operatorlanguage::shown(notices.join(QLatin1Char(' '))));
        offerRecovery();
    });
    announcer = new RunAnnouncer(runSession, ui->statusLabel, this);
    frames = new RunFrames(
        ui->currentProgressBar, ui->totalProgressBar, ui->statusLabel,
        [this](const QString &line) { announcer->lineShown(line); }, [this] { updateTimeLabels(); }, this);
}

MainWindow::~MainWindow()
{
    delete ui;
}

bool MainWindow::event(QEvent *event)
{
    // A run's reports arrive as queued calls, several for every KiB it moves.
    // Neither QMainWindow nor QWidget does anything with a queued call but
    // hand it on to QObject; going there at once spares each report their
    // event switches.
    if (event->type() == QEvent::MetaCall)
        return QObject::event(event);
    return QMainWindow::event(event);
}

void MainWindow::updateFinished()
{
    // The run's last reports, shown with its end rather than a frame later.
    frames->show();
    ui->startUpdateButton->setEnabled(true);
    // Full bars tell the operator that the flash is programmed: only a run that
    // ended with its done line has earned them. After a failure the bars stay
    // where the run stopped, beside its error line.
    if (runSession->succeeded()) {
        ui->currentProgressBar->setValue(100);
        ui->totalProgressBar->setValue(100);
    }
    ui->timeRemain->setText(formatSeconds(0));
    shownTimes.remaining = 0;
    accessiblenames::timesSettled(ui);
    qDebug() << "void MainWindow::updateFinished()";
}

void MainWindow::updateCurrentProgress(int progress)
{
    frames->setCurrent(progress);
}

void MainWindow::updateTotalProgress(int progress)
{
    frames->setTotal(progress);
    // Taken, if not yet shown: the worker may send the next one.
    runSession->noteProgress(progress);
}

void MainWindow::updateStatusText(QString text)
{
    frames->setLine(text);
}

void MainWindow::FileDialogButton_released()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open ZARN Update Image file"), QString(),
                                                      tr("ZARN RU Image (*.zarnru)"));
    if (!path.isEmpty())
        ui->filenameLineEdit->setText(path);
}

void MainWindow::startUpdateButton_released()
{
    // No run without its guards, however soon after the window opened.
    startup->finish();
    // One run at a time: none while one is being confirmed or is under way.
    const bool confirming = imageInfoDialog->isVisible() && imageInfoDialog->isModal();
    if (confirming || runSession->underWay())
        return;

    const QString filename = ui->filenameLineEdit->text();
    const QStringList parts = filename.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QString extension = parts.isEmpty() ? QString() : parts.last();
    if (extension != QLatin1String(updateFileExtension)) {
        // Built by hand, as above.
        QMessageBox box(
            QMessageBox::Warning, tr("Invalid filename"),
            tr("The filename is not valid.\n\nExpecting file extenison: .zarnru, instead got: .") + extension,
            QMessageBox::Ok, this);
        box.exec();
        return;
    }

    // An information view left open from "Get Image Info" must not stand in for
    // the confirmation: hiding it makes exec() read the file afresh.
    const auto hideInformation = [this] {
        if (imageInfoDialog->isVisible())
            imageInfoDialog->hide();
    };
    // A second operator learns now, not after confirming, that the flash is
    // being updated by someone else. The bytes listed now are the bytes the
    // run writes, whatever becomes of the file on disk once the operator has
    // seen them. A file the run would refuse, damaged or of no origin this
    // computer trusts, is refused now, with the run's own words, before it is
    // listed; and whether the update suits this system now is asked before
    // the confirmation.
    const preflight::Result checked = preflight::check(filename, preflight::Request());
    if (checked.refused()) {
        if (checked.refusedAs == RunOutcome::Kind::Busy) {
            QMessageBox box(QMessageBox::Warning, tr("Flash memory busy"),
                            operatorlanguage::shown(checked.refusal), QMessageBox::Ok, this);
            box.exec();
            return;
        }
        hideInformation();
        QMessageBox box(QMessageBox::Warning, tr("Update file refused"),
                        operatorlanguage::shown(checked.refusal), QMessageBox::Ok, this);
        // The reason may quote a certificate's name, which is not the utility's to format.
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return;
    }
    hideInformation();
    QStringList overrides;
    for (const preflight::Concern &concern : checked.concerns) {
        if (!goOnAllTheSame(this, concernTitle(concern.kind), concern.reason))
            return;
        overrides << QLatin1String(concern.overrideName());
    }
    const std::shared_ptr<const UpdateSnapshot> &snapshot = checked.snapshot;
    const QList<UpdaterThread::imgHeader> &images = checked.images;
    const provenance::Verdict &origin = checked.origin;
    const bool lowPower = overrides.contains(QLatin1String("ignore-power"));

    // Seen beside the confirmation, so the operator knows whose file is listed.
    statusBar()->showMessage(operatorlanguage::shown(origin.origin));
    imageInfoDialog->setFilename(filename);
    imageInfoDialog->setSnapshot(snapshot);
    if (imageInfoDialog->exec() != QDialog::Accepted) {
        statusBar()->clearMessage();
        return;
    }

    UpdateRunner::Options options;
    options.signer = origin.signer;
    options.overrides = overrides;
    options.journal.keepCopies = !overrides.contains(QLatin1String("no-recovery-copy"));
    // Looked at once more as the run starts: the confirmation may have taken a while.
    options.lowPower = [this, lowPower](const QString &reason) {
        return lowPower || goOnAllTheSame(this, tr("Battery low"), reason);
    };
    startRun(filename, snapshot, images, options);
}

void MainWindow::startRun(const QString &filename, std::shared_ptr<const UpdateSnapshot> snapshot,
                          const QList<ImageHeader> &images, UpdateRunner::Options options)
{
    ui->startUpdateButton->setEnabled(false);
    options.program = QStringLiteral("zarn-update-utility");
    options.reportsAhead = reportsAhead;
    options.followThroughExit = true;
    if (!options.lowPower)
        options.lowPower = [this](const QString &reason) {
            return goOnAllTheSame(this, tr("Battery low"), reason);
        };
    QStringList names;
    for (const UpdaterThread::imgHeader &image : images)
        names << imagetext::name(image);
    options.progress = announcer->follow(names);
    const UpdateRunner runner(runSession);
    const UpdateRunner::Run run = runner.prepare(filename, std::move(snapshot), options);
    QThread *const thread = run.thread;
    UpdaterThread *const worker = run.worker;

    connect(thread, &QThread::started, worker, &UpdaterThread::process);
    connect(worker, &UpdaterThread::finished, thread, &QThread::quit);
    connect(worker, &UpdaterThread::finished, worker, &QObject::deleteLater);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(worker, &UpdaterThread::finished, this, &MainWindow::updateFinished);
    connect(worker, &UpdaterThread::updateCurrentProgress, this, &MainWindow::updateCurrentProgress);
    connect(worker, &UpdaterThread::updateTotalProgress, this, &MainWindow::updateTotalProgress);
    connect(worker, &UpdaterThread::updateStatusText, this, &MainWindow::updateStatusText);

    elapsedTimer.start();
    if (!runner.start(run, options)) {
        ui->startUpdateButton->setEnabled(true);
        statusBar()->clearMessage();
    }
}

void MainWindow::offerRecovery()
{
    const std::optional<recoveryoffer::Pending> pending = recoveryoffer::pending();
    if (!pending)
        return;
    QMessageBox *const box =
        recoveryoffer::box(this, *pending, [this, pending](recoveryoffer::Choice choice) {
            if (choice == recoveryoffer::Choice::Later || runSession->underWay())
                return;
            recoveryoffer::Run run;
            const QString refusal = recoveryoffer::prepare(*pending, choice, &run);
            if (!refusal.isEmpty()) {
                QMessageBox refused(QMessageBox::Warning, tr("Recovery copy refused"),
                                    operatorlanguage::shown(refusal), QMessageBox::Ok, this);
                refused.setTextFormat(Qt::PlainText);
                refused.exec();
                return;
            }
            UpdateRunner::Options options;
            options.signer = pending->entry.signer;
            options.journal = run.journal;
            options.keptSha256 = run.keptSha256;
            options.restoring = run.restoring;
            if (!run.restoring)
                options.onlyChanged = std::make_shared<changedpages::Counts>();
            startRun(run.path, run.snapshot, run.images, options);
        });
    box->open();
}

void MainWindow::on_imageInfoButton_clicked()
{
    imageInfoDialog->setFilename(ui->filenameLineEdit->text());
    imageInfoDialog->show();
}

void MainWindow::updateTimeLabels()
{
    const qint64 elapsedMs = elapsedclock::read(elapsedTimer);
    const qint64 elapsedSeconds = elapsedMs / 1000;
    // The texts change once a second, the frames come sixty times: a label is
    // written only when what it shows changes.
    if (elapsedSeconds != shownTimes.elapsed) {
        shownTimes.elapsed = elapsedSeconds;
        ui->timeElapsed->setText(formatSeconds(quint32(elapsedSeconds)));
    }

    const int progress = ui->totalProgressBar->value();
    qint64 remainingSeconds = ShownTimes::noEstimate;
    if (progress > 0) {
        // Total duration estimated from the share done so far: ms / 1000 * 100 / progress.
        const qint64 totalSeconds = elapsedclock::read(elapsedTimer) / qint64(10 * progress);
        remainingSeconds = quint32(qint32(totalSeconds - elapsedSeconds));
    }
    if (remainingSeconds == shownTimes.remaining)
        return;
    shownTimes.remaining = remainingSeconds;
    ui->timeRemain->setText(remainingSeconds == ShownTimes::noEstimate
                                ? QStringLiteral(" - ")
                                : formatSeconds(quint32(remainingSeconds)));
}
