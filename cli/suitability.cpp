#include "cliout.h"
#include "commands.h"
#include "exitcodes.h"

namespace commands {

int passConcerns(const QString &path, const QList<preflight::Concern> &concerns, const UpdateRequest &request,
                 QStringList *overrides, CliOutput &out)
{
    for (const preflight::Concern &concern : concerns) {
        bool allowed = false;
        // How the refusal begins: a concern about the file names it, one about the system does not.
        QString refusal = QStringLiteral("not updating: ");
        switch (concern.kind) {
        case preflight::Concern::Kind::OlderHardware:
        case preflight::Concern::Kind::UnknownHardware:
            allowed = request.allowOlderHardware;
            refusal = QStringLiteral("Error in ") + path + QStringLiteral(": ");
            break;
        case preflight::Concern::Kind::LowPower:
            allowed = request.ignorePower;
            break;
        case preflight::Concern::Kind::Downgrade:
            allowed = request.allowDowngrade;
            refusal = QStringLiteral("Error in ") + path + QStringLiteral(": ");
            break;
        case preflight::Concern::Kind::NoRoomForCopies:
            allowed = request.noRecoveryCopy;
            break;
        }
        const QString option = QStringLiteral("--") + QLatin1String(concern.overrideName());
        if (!allowed) {
            out.error(refusal + concern.reason + QStringLiteral(". Give ") + option +
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
