#include "hardwarecheck.h"

#include "flashio.h"
#include "updatefilereader.h"

#include <QStringList>

namespace hardwarecheck {

Verdict judge(const QList<ImageHeader> &images, const ZARNsystem::Versions &installed)
{
    Verdict verdict;
    if (installed.status < 0) {
        const QString cause = flashio::openFailureCause(installed.error);
        verdict.problem = QStringLiteral("the installed hardware value cannot be read (") +
                          (cause.isEmpty() ? QStringLiteral("the ZARN driver is not loaded") : cause) +
                          QStringLiteral("), so the images' hardware requirements cannot be checked");
        return verdict;
    }
    if (!installed.hwKnown) {
        verdict.problem = QStringLiteral("the installed hardware value cannot be read (the ZARN driver gives "
                                         "none), so the images' hardware requirements cannot be checked");
        return verdict;
    }
    verdict.known = true;
    verdict.installed = installed.hwTimestampWord;
    QStringList lines;
    for (int i = 0; i < images.size(); ++i) {
        if (images.at(i).minHW <= verdict.installed)
            continue;
        verdict.needNewer << i;
        lines << updatefilereader::imageLabel(images, i) + QStringLiteral(" needs hardware ") +
                     QString::number(images.at(i).minHW) + QStringLiteral(" or newer");
    }
    if (!lines.isEmpty())
        verdict.problem = lines.join(QStringLiteral(", ")) + QStringLiteral("; this system's hardware is ") +
                          QString::number(verdict.installed);
    return verdict;
}

} // namespace hardwarecheck
