#include "updaterthread.h"

UpdaterThread::UpdaterThread(QObject *parent) : QObject(parent), imageWeight(0), completedWeight(0) {}
UpdaterThread::~UpdaterThread() = default;
void UpdaterThread::setFilename(QString filename) { this->filename = filename; }
int UpdaterThread::getHeaderInfo(QString, QList<UpdaterThread::imgHeader> *) { return -1; }
int UpdaterThread::unlockFlash(int) { return -1; }
int UpdaterThread::eraseFlash(int, u_int32_t, u_int32_t) { return -1; }
int UpdaterThread::writeToFlash(int, QFile &, u_int32_t, u_int32_t, u_int32_t) { return 0; }
int UpdaterThread::verifyAndRepair(int, QFile &, u_int32_t, u_int32_t, u_int32_t) { return 0; }
void UpdaterThread::reportProgress(int, float) {}
void UpdaterThread::process() { emit finished(); }
