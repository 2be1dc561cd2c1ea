#pragma once

#include <QString>
#include <QtGlobal>

// The versions installed on the ZARN system, read through the mailbox device.
class ZARNsystem
{
public:
    static int getSystemVersion(QString *hwTimestamp, QString *swVersion, QString *pidVersion);

    // One query, as getSystemVersion makes it, with its cause and the words
    // the mailbox answered kept beside the result.
    struct Versions
    {
        int status = -1;     // as getSystemVersion returns it
        int error = 0;       // the errno of a query that failed
        bool opened = false; // the node could be opened: a failure came from the driver's answer
        quint32 hwTimestampWord = 0;
        // Whether the driver vouched for each answer: one it flags as holding
        // no value shows the established stand-in, and is unknown to any check.
        bool swKnown = false;
        bool hwKnown = false;
        bool pidKnown = false;
        QString hwTimestamp;
        QString swVersion;
        QString pidVersion;
    };
    static Versions query();
};
