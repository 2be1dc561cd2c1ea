#include "commandline.h"

#include <QDebug>
#include <QString>

bool openWithoutDriver = false;

bool applyForceFlag(int argc, char *argv[])
{
    // Without arguments argv[1] is the vector's terminating null pointer,
    // which becomes a null string and matches nothing.
    const QString first = QString::fromUtf8(argc > 1 ? argv[1] : nullptr);
    if (first == QLatin1String("-f") || first == QLatin1String("--force")) {
        qDebug() << "openWithoutDriver: ON";
        openWithoutDriver = true;
    }
    return openWithoutDriver;
}
