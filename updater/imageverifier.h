#pragma once

#include "imagebuffer.h"

#include <QString>
#include <sys/types.h>
#include <vector>

class QFile;
class UpdaterThread;

// The four phases of every image, in the order the bars show them.
enum Phase { ErasePhase, WritePhase, ReadBackPhase, ComparePhase, PhaseCount };

// Reads an image back from the flash, compares it word by word with the file
// and repairs what differs: a word alone where programming can still mend it,
// otherwise its whole page, at most a few times a page. Reports through the
// worker's signals as the worker's own verification.
class ImageVerifier
{
public:
    ImageVerifier(UpdaterThread &worker, const QString &filename, int fd, QFile &file, u_int32_t offset,
                  u_int32_t address, u_int32_t size);

    // 0 when the flash holds the image, -1 after a failure it has reported.
    int run();

private:
    enum class Outcome { Equal, RepairPage, Failed };

    bool readBack();
    bool readInto(size_t at, size_t length, uchar *block);
    Outcome compare();
    Outcome repairWord(u_int32_t w);
    bool repairPage(u_int32_t w);
    // Both report the line of a failure and end the verification.
    bool fail(const QString &line);
    Outcome failed(const QString &line);

    UpdaterThread &worker;
    const QString &filename;
    const int fd;
    QFile &file;
    const u_int32_t offset;
    const u_int32_t address;
    const u_int32_t size;
    const u_int32_t words;

    ImageBuffer fileBuffer;
    // The flash's copy of the image is kept only from its first difference on:
    // up to there it equals the file's, so a clean image costs one buffer, not two.
    ImageBuffer flashBuffer;
    const uchar *flash = nullptr;
    std::vector<int> pageRepairs;
    u_int32_t badWord = 0; // the word compare() could not mend alone
};
