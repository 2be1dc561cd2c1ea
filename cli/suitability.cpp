#include "cliout.h"
#include "commands.h"
#include "exitcodes.h"

namespace commands {

int passConcerns(const QString &path, const QList<preflight::Concern> &concerns, const UpdateRequest &request,
                 QStringList *overrides, CliOutput &out)
{
    for (const preflight::Concern &concern : concerns) {
        const bool power = concern.kind == preflight::Concern::Kind::LowPower;
        const QString option = QStringLiteral("--") + QLatin1String(concern.overrideName());
        const bool asked = power                                                 ? request.ignorePower
                           : concern.kind == preflight::Concern::Kind::Downgrade ? request.allowDowngrade
                                                                                 : request.allowOlderHardware;
        if (!asked) {
            out.error(power ? QStringLiteral("not updating: ") + concern.reason + QStringLiteral(". Give ") +
                                  option + QStringLiteral(" to update all the same.")
                            : QStringLiteral("Error in ") + path + QStringLiteral(": ") + concern.reason +
                                  QStringLiteral(". Give ") + option +
                                  QStringLiteral(" to update all the same."));
            return exitcode::refusedFile;
        }
        out.warning(QStringLiteral("Going on as asked (") + option + QStringLiteral("): ") + concern.reason);
        if (!overrides->contains(QLatin1String(concern.overrideName())))
            *overrides << QLatin1String(concern.overrideName());
    }
    return exitcode::success;
}

} // namespace commands
