#include "cliout.h"
#include "commands.h"
#include "exitcodes.h"
#include "hardwarecheck.h"
#include "powercheck.h"
#include "zarnsystem.h"

#include <QDBusConnection>
#include <QDebug>

namespace commands {

int judgeSuitability(const QString &path, const QList<ImageHeader> &images, const UpdateRequest &request,
                     bool checkPower, QStringList *overrides, CliOutput &out)
{
    const hardwarecheck::Verdict hardware = hardwarecheck::judge(images, ZARNsystem::query());
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
