#pragma once

#include "childprocess.h"

#include <QObject>
#include <QString>
#include <QTemporaryDir>

class TestCommandLineRecords : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void jsonEventsFollowTheSchema();
    void backupPutsTheFlashBack();
    void historyKeepsEveryUpdate();
    void journalIsTheGroups();
    void cutAndRecovered_data();
    void cutAndRecovered();
    void keptCopiesJudged_data();
    void keptCopiesJudged();
    void runnerKnownByMoreThanItsNumber_data();
    void runnerKnownByMoreThanItsNumber();
    void reportsReachTheProgram_data();
    void reportsReachTheProgram();

private:
    runkit::CommandLine cli;
    QTemporaryDir dir;
    QString good;
    QString other;
};
