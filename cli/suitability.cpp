#include "cliout.h"
#include "commands.h"
#include "exitcodes.h"
#include "flashio.h"
#include "hardwarecheck.h"
#include "powercheck.h"
#include "zarnsystem.h"

#include <QDBusConnection>
#include <QDebug>

namespace commands {

int judgeSuitability(const QString &path, const QList<ImageHeader> &images, const UpdateRequest &request,
                     bool checkPower, QStringList *overrides, CliOutput &out)
{
    const ZARNsystem::Versions installed = ZARNsystem::query();
    // A node that cannot be opened at all says more than an unknown hardware
    // value: the driver is not loaded, or the user may not use it.
    if (!installed.opened) {
        const QString cause = flashio::openFailureCause(installed.error);
        out.error(QStringLiteral("/dev/zarn_mailbox could not be read: ") +
                  (cause.isEmpty() ? QStringLiteral("the ZARN driver is not loaded") : cause));
        return exitcode::noDevice;
    }
    const hardwarecheck::Verdict hardware = hardwarecheck::judge(images, installed);
    if (!hardware.suits()) {
        if (!request.allowOlderHardware) {
            out.error(QStringLiteral("Error in ") + path + QStringLiteral(": ") + hardware.problem +
                      QStringLiteral(". Give --allow-older-hardware to update all the same."));
            return exitcode::refusedFile;
        }
        out.error(QStringLiteral("Going on as asked (--allow-older-hardware): ") + hardware.problem);
        *overrides << QStringLiteral("allow-older-hardware");
    }
    if (!checkPower)
        return exitcode::success;
    const powercheck::Reading power = powercheck::read(QDBusConnection::systemBus());
    if (power.source == powercheck::Reading::Source::Unknown)
        qDebug() << QStringLiteral("The power is not checked: ") + power.why;
    const QString refusal = powercheck::refusal(power);
    if (refusal.isEmpty())
        return exitcode::success;
    if (!request.ignorePower) {
        out.error(QStringLiteral("not updating: ") + refusal +
                  QStringLiteral(". Give --ignore-power to update all the same."));
        return exitcode::refusedFile;
    }
    out.error(QStringLiteral("Going on as asked (--ignore-power): ") + refusal);
    *overrides << QStringLiteral("ignore-power");
    return exitcode::success;
}

} // namespace commands
