#include "memorybench.h"

#include "benchformat.h"
#include "benchtable.h"
#include "devicefloor.h"
#include "imageinfodialog.h"
#include "updatefilebuilder.h"
#include "windowdriver.h"
#include "zarnsim.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QVector>
#include <thread>
#include <unistd.h>

namespace bench {

namespace {

// A small update's peak is dominated by what every update costs whatever its
// size; a large one's by the image itself.
constexpr double memoryTargetSmall = 1.5;
constexpr double memoryTargetLarge = 1.1;
constexpr quint32 largeUpdate = 16 * 1024 * 1024;
constexpr int memoryRepetitions = 5;
constexpr double listTargetMs = 1000.0;
constexpr double listTargetMiB = 100.0;
const char peakPrefix[] = "peak-kib ";
const char anonymousPrefix[] = "anonymous-kib ";
constexpr long kibPerPage = 4;

// The most anonymous memory (resident pages no file backs: the heap, stacks,
// the simulated flash) the process has held since this began, looked at every
// millisecond. /proc keeps a high-water mark only of the whole resident set,
// and that counts the pages of the shared libraries an update touches, which
// every process that maps them shares and the system can drop at will.
class AnonymousPeak
{
public:
    AnonymousPeak()
        : sampler([this] {
              while (!stop.load()) {
                  sample();
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          })
    {
    }
    ~AnonymousPeak()
    {
        stop.store(true);
        sampler.join();
    }
    qint64 kib()
    {
        sample();
        return peak.load();
    }

private:
    // statm: size, resident, shared (file-backed and shared memory), in pages.
    void sample()
    {
        const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        char text[128] = {};
        const ssize_t got = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        long size = 0;
        long resident = 0;
        long shared = 0;
        if (got > 0 && std::sscanf(text, "%ld %ld %ld", &size, &resident, &shared) == 3)
            peak.store(qMax(peak.load(), qint64(resident - shared) * kibPerPage));
    }

    std::atomic<bool> stop{false};
    std::atomic<qint64> peak{0};
    std::thread sampler;
};

struct Peaks
{
    qint64 resident = -1;  // VmHWM
    qint64 anonymous = -1; // sampled
};

qint64 peakResidentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

Peaks childPeak(const QString &mode, const QString &file)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QStringList keys = environment.keys();
    for (const QString &key : keys) {
        if (key.startsWith(QLatin1String("ZARNSIM_")))
            environment.remove(key);
    }
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("ZARNSIM_RECORD"), QStringLiteral("0"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QLatin1String(memoryChildOption), mode, file});
    Peaks peaks;
    if (!child.waitForFinished(-1))
        return peaks;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith(peakPrefix))
            peaks.resident = line.mid(int(sizeof peakPrefix) - 1).toLongLong();
        if (line.startsWith(anonymousPrefix))
            peaks.anonymous = line.mid(int(sizeof anonymousPrefix) - 1).toLongLong();
    }
    return peaks;
}

// Both empty when a child failed.
QPair<QVector<qint64>, QVector<qint64>> childPeaks(const QString &mode, const QString &file)
{
    QVector<qint64> resident;
    QVector<qint64> anonymous;
    for (int i = 0; i < memoryRepetitions; ++i) {
        const Peaks peaks = childPeak(mode, file);
        if (peaks.resident < 0 || peaks.anonymous < 0)
            return {};
        resident.append(peaks.resident);
        anonymous.append(peaks.anonymous);
    }
    return {resident, anonymous};
}

// count images of one word each, a page apart.
QString writeManyImages(const QDir &dir, int count)
{
    QList<updatefile::Image> images;
    for (int i = 0; i < count; ++i) {
        updatefile::Image image;
        image.name = "IMG";
        image.version = 0x01000000;
        image.address = quint32(i) * zarnsim::flashPageSize;
        image.data = QByteArray(4, char(i));
        images << image;
    }
    const QString path = dir.filePath(QStringLiteral("images-%1.zarnru").arg(count));
    return updatefile::writeFile(path, images) ? path : QString();
}

} // namespace

// 4, inside a child: a window, idle, with the device alone programmed, or
// after one update; and the process's peak. The operator's confirmation of
// the update is painted before it is accepted, so the floor paints the same
// list of the file's images first: what the window keeps of that is no part of
// the run's cost.
int memoryChild(const QString &mode, const QString &file)
{
    zarnsim::setRecording(false);
    AnonymousPeak anonymous;
    WindowDriver driver;
    WindowDriver::spin(settleMs);
    if (mode == QLatin1String("update")) {
        const RunTimes run = driver.run(file);
        if (!run.completed) {
            std::printf("failed %s\n", qPrintable(run.outcome.lastLine));
            return 0;
        }
    } else if (mode == QLatin1String("device")) {
        driver.showImageList(file);
        if (bench::updateWithoutEngine(file, bench::FloorBuffers::OneBlock) < 0) {
            std::printf("failed\n");
            return 0;
        }
    }
    WindowDriver::spin(settleMs);
    std::printf("%s%lld\n%s%lld\n", peakPrefix, static_cast<long long>(peakResidentKib()), anonymousPrefix,
                static_cast<long long>(anonymous.kib()));
    return 0;
}

// 6, inside a child: "Get Image Info" on a file of many images, from the
// release of the button to the dialog shown with its rows; the peak before
// and after.
int listChild(const QString &file)
{
    zarnsim::setRecording(false);
    WindowDriver driver;
    WindowDriver::spin(settleMs);
    const qint64 idlePeak = peakResidentKib();
    ImageInfoDialog dialog;
    const qint64 start = bench::nowNs();
    dialog.setFilename(file);
    dialog.show();
    QCoreApplication::processEvents();
    const qint64 shown = bench::nowNs() - start;
    const int rows = dialog.findChild<QListWidget *>(QStringLiteral("listWidget"))->count();
    std::printf("rows %d\nlist-ns %lld\nidle-kib %lld\n%s%lld\n", rows, static_cast<long long>(shown),
                static_cast<long long>(idlePeak), peakPrefix, static_cast<long long>(peakResidentKib()));
    return 0;
}

// The simulated device keeps the flash in the process, so its storage counts
// in the floor: the same device calls made from a thread with 1 KiB of buffer,
// after the window has shown the file's images as the confirmation does. The
// target is on the anonymous memory, what the update costs the system; the
// whole resident set is shown beside it.
void memory(const QList<QPair<QString, quint32>> &files, Table &table)
{
    progress(QStringLiteral("memory: idle window"));
    const auto idle = childPeaks(QStringLiteral("idle"), QStringLiteral("-"));
    table.add({QStringLiteral("4"),
               QStringLiteral("Peak memory of the idle window, VmHWM / anonymous (median of %1)")
                   .arg(memoryRepetitions),
               idle.first.isEmpty() ? QStringLiteral("failed")
                                    : mibOfKib(qint64(bench::median(idle.first))) + " / " +
                                          mibOfKib(qint64(bench::median(idle.second))),
               {},
               {},
               {},
               QStringLiteral("-")});
    for (const auto &entry : files) {
        const quint32 size = entry.second;
        progress(QStringLiteral("memory: update of %1").arg(sizeName(size)));
        const auto floors = childPeaks(QStringLiteral("device"), entry.first);
        const auto peaks = childPeaks(QStringLiteral("update"), entry.first);
        const double target = size >= largeUpdate ? memoryTargetLarge : memoryTargetSmall;
        for (const bool anonymous : {false, true}) {
            const QString figure =
                QStringLiteral("Peak %1, update of %2, each of %3 runs: min / median / max")
                    .arg(anonymous ? QStringLiteral("anonymous memory (RssAnon, looked at every ms)")
                                   : QStringLiteral("resident memory (VmHWM)"),
                         sizeName(size))
                    .arg(memoryRepetitions);
            const QVector<qint64> &runs = anonymous ? peaks.second : peaks.first;
            if (floors.first.isEmpty() || runs.isEmpty()) {
                table.add({QStringLiteral("4"),
                           figure,
                           QStringLiteral("failed"),
                           {},
                           {},
                           {},
                           QStringLiteral("NO")});
                continue;
            }
            const qint64 floor = qint64(bench::median(anonymous ? floors.second : floors.first));
            QVector<double> images;
            for (const qint64 peak : runs)
                images.append(double(peak - floor) * 1024.0 / size);
            const auto ratio = [](double value) { return QString::number(value, 'f', 2); };
            table.add({QStringLiteral("4"), figure,
                       mibOfKib(qint64(bench::minimum(runs))) + " / " +
                           mibOfKib(qint64(bench::median(runs))) + " / " +
                           mibOfKib(qint64(bench::maximum(runs))),
                       mibOfKib(floor) + QStringLiteral(" (idle window + simulated flash holding the image)"),
                       QStringLiteral("floor + %1 / %2 / %3 x image")
                           .arg(ratio(bench::minimum(images)), ratio(bench::median(images)),
                                ratio(bench::maximum(images))),
                       anonymous ? QStringLiteral("every run <= floor + %1 x image").arg(target) : QString(),
                       anonymous ? bench::verdict(bench::maximum(images) <= target) : QStringLiteral("-")});
        }
    }
}

// 6. Long image lists: one child process per list, as memory is measured.
void imageLists(const QDir &dir, Table &table)
{
    for (const int count : {1000, 10000}) {
        progress(QStringLiteral("image list of %1 images").arg(count));
        const QString figure = QStringLiteral("\"Get Image Info\" on %1 images: time to the dialog shown / "
                                              "peak memory over the idle window")
                                   .arg(count);
        const QString file = writeManyImages(dir, count);
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QLatin1String(listChildOption), file});
        QMap<QByteArray, qint64> values;
        if (!file.isEmpty() && child.waitForFinished(-1)) {
            for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> parts = line.split(' ');
                if (parts.size() == 2)
                    values.insert(parts.at(0), parts.at(1).toLongLong());
            }
        }
        if (values.value("rows") != count) {
            table.add(
                {QStringLiteral("6"), figure, QStringLiteral("failed"), {}, {}, {}, QStringLiteral("NO")});
            continue;
        }
        const double listMs = double(values.value("list-ns")) / bench::nsPerMs;
        const double extraMiB = double(values.value("peak-kib") - values.value("idle-kib")) / 1024.0;
        table.add({QStringLiteral("6"), figure,
                   QStringLiteral("%1 ms / +%2 MiB").arg(listMs, 0, 'f', 1).arg(extraMiB, 0, 'f', 1),
                   mibOfKib(values.value("idle-kib")) + QStringLiteral(" (idle window)"), QString(),
                   QStringLiteral("<= %1 ms, <= +%2 MiB").arg(listTargetMs).arg(listTargetMiB),
                   bench::verdict(listMs <= listTargetMs && extraMiB <= listTargetMiB)});
    }
}

} // namespace bench
