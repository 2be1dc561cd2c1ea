#pragma once

#include <QString>

// The versions installed on the ZARN system, read through the mailbox device.
class ZARNsystem
{
public:
    static int getSystemVersion(QString *hwTimestamp, QString *swVersion, QString *pidVersion);

    // The errno of the last failed query on this thread, 0 after a success.
    static int lastError();
};
