#pragma once

#include "elapsedclock.h"
#include "zarnsim.h"

#include <QObject>
#include <QString>
#include <QTemporaryDir>

class TestWindowRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { zarnsim::reset(); }
    void cleanup() { elapsedclock::setSource(nullptr); }
    void closeWaitsForTheRun();
    void outcomeLeavesNoDoubt_data();
    void outcomeLeavesNoDoubt();
    void hardwareAsked_data();
    void hardwareAsked();
    void confirmedBytesAreFlashed_data();
    void confirmedBytesAreFlashed();
    void extensionCheck_data();
    void extensionCheck();
    void timeLabels_data();
    void timeLabels();
    void reportsKeepTheirOrder_data();
    void reportsKeepTheirOrder();
    void reportsOutliveAnEarlierWindow();

private:
    QTemporaryDir dir;
    QString path;
};
