#pragma once

#include <sys/types.h>

// One image of an update file, as its 32-byte header describes it. The worker
// knows it as UpdaterThread::imgHeader; the reader of the header chain needs
// nothing else of the worker.
struct ImageHeader
{
    u_int32_t version;
    u_int32_t address;
    u_int32_t minHW;
    u_int32_t size;   // block length counted from the header's first byte
    u_int32_t offset; // file position of the header
    char name[4];     // not terminated when all four bytes are used
};
