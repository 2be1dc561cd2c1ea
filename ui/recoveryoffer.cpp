#include "recoveryoffer.h"

#include "digest.h"
#include "operatorlanguage.h"
#include "recoverycopy.h"
#include "updatesnapshot.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace recoveryoffer {

namespace {

bool kept(const QString &folder, const HistoryEntry::Copy &copy)
{
    return copy.kept() && QFileInfo(QDir(folder).filePath(copy.file)).isFile();
}

} // namespace

std::optional<Pending> pending()
{
    const RunHistory history;
    const QList<HistoryEntry> entries = history.entries();
    if (entries.isEmpty())
        return std::nullopt;
    Pending offer{entries.last()};
    const HistoryEntry &newest = offer.entry;
    const bool running = newest.result == QLatin1String("started") && !newest.interrupted();
    if (running || newest.result == QLatin1String("succeeded"))
        return std::nullopt;
    offer.canFinish = kept(history.directory(), newest.target);
    offer.canRestore = kept(history.directory(), newest.before);
    if (!offer.canFinish && !offer.canRestore)
        return std::nullopt;
    return offer;
}

QMessageBox *box(QWidget *parent, const Pending &pending, std::function<void(Choice)> answered)
{
    const HistoryEntry &entry = pending.entry;
    auto *box = new QMessageBox(
        QMessageBox::Warning, QCoreApplication::translate("MainWindow", "Update cut short"),
        QCoreApplication::translate(
            "MainWindow", "The update of the ZARN flash started %1 by %2 from %3 did not end verified: the "
                          "ZARN system may not "
                          "start.\n\nThe update can be finished from the copy kept of it, or the flash can "
                          "be given back what "
                          "it held before.")
            .arg(entry.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), entry.user,
                 entry.file),
        QMessageBox::NoButton, parent);
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // "Later", which changes nothing, comes first; the style places the buttons by their roles.
    QPushButton *later =
        box->addButton(QCoreApplication::translate("MainWindow", "Later"), QMessageBox::RejectRole);
    QPushButton *finish = pending.canFinish
                              ? box->addButton(QCoreApplication::translate("MainWindow", "Finish the update"),
                                               QMessageBox::AcceptRole)
                              : nullptr;
    QPushButton *restore =
        pending.canRestore
            ? box->addButton(QCoreApplication::translate("MainWindow", "Restore the previous contents"),
                             QMessageBox::AcceptRole)
            : nullptr;
    box->setDefaultButton(later);
    box->setEscapeButton(later);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [=](QAbstractButton *button) {
        answered(button == finish ? Choice::Finish : button == restore ? Choice::Restore : Choice::Later);
    });
    return box;
}

QString prepare(const Pending &pending, Choice choice, Run *run)
{
    const HistoryEntry &entry = pending.entry;
    const bool restoring = choice == Choice::Restore || entry.targetIsPreImage;
    const HistoryEntry::Copy &copy = choice == Choice::Restore ? entry.before : entry.target;
    run->path = QDir(RunHistory().directory()).filePath(copy.file);
    run->snapshot = UpdateSnapshot::capture(run->path);
    if (!run->snapshot->holdsBytes())
        return QCoreApplication::translate("MainWindow", "The recovery copy %1 cannot be read.")
            .arg(run->path);
    if (QString::fromLatin1(provenance::sha256(*run->snapshot)) != copy.sha256)
        return QCoreApplication::translate(
                   "MainWindow",
                   "The recovery copy %1 has changed since it was kept: its SHA-256 is not the history's.")
            .arg(run->path);
    QFile file;
    QString why;
    if (restoring) {
        if (!run->snapshot->open(file) || !recoverycopy::readPreImage(file, &run->images, &why))
            return QCoreApplication::translate("MainWindow", "Error in %1: %2")
                .arg(run->path, operatorlanguage::shown(why));
    } else if (const QString damage = run->snapshot->refusal(&run->images, file); !damage.isEmpty()) {
        return damage;
    }
    run->journal.kind = choice == Choice::Restore ? QStringLiteral("restore") : QStringLiteral("resume");
    run->journal.target = copy;
    run->journal.targetIsPreImage = restoring;
    run->journal.before = entry.before;
    run->journal.follows = entry.id;
    run->journal.file = entry.file;
    run->keptSha256 = copy.sha256;
    run->restoring = restoring;
    return QString();
}

} // namespace recoveryoffer
