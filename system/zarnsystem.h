#pragma once

#include <QString>

// The versions installed on the ZARN system, read through the mailbox device.
class ZARNsystem
{
public:
    static int getSystemVersion(QString *hwTimestamp, QString *swVersion, QString *pidVersion);
};
