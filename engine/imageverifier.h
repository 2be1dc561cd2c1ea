#pragma once

#include "flashhandle.h"
#include "imagebuffer.h"

#include <QString>
#include <sys/types.h>
#include <vector>

class QFile;
class RunReporter;

// Reads an image back from the flash, compares it word by word with the file
// and repairs what differs: a word alone where programming can still mend it,
// otherwise its whole page, at most a few times a page. Reports as the
// verification of the run it is part of.
class ImageVerifier
{
public:
    // Where its debug lines come from (those of the worker's own verification)
    // and the name of the file its image is read from.
    struct Source
    {
        const char *file;
        const char *function;
        const QString &filename;
    };

    ImageVerifier(RunReporter &reporter, const Source &source, FlashHandle flash, QFile &imageFile,
                  u_int32_t offset, u_int32_t address, u_int32_t size);

    // 0 when the flash holds the image, -1 after a failure it has reported.
    int run();

private:
    enum class Outcome { Equal, RepairPage, Failed };

    bool readBack();
    bool readInto(size_t at, size_t length, uchar *block);
    Outcome compare();
    Outcome repairWord(u_int32_t w);
    bool repairPage(u_int32_t w);
    // Both report the line of a failure, with its errno where there is one,
    // and end the verification.
    bool fail(const FlashFailure &failure);
    bool fail(const QString &line);
    Outcome failed(const FlashFailure &failure);

    RunReporter &reporter;
    const char *const file;
    const char *const function;
    const QString &filename;
    const FlashHandle flash;
    QFile &imageFile;
    const u_int32_t offset;
    const u_int32_t address;
    const u_int32_t size;
    const u_int32_t words;

    ImageBuffer fileBuffer;
    // The flash's copy of the image is kept only from its first difference on:
    // up to there it equals the file's, so a clean image costs one buffer, not two.
    ImageBuffer flashBuffer;
    const uchar *held = nullptr;
    std::vector<int> pageRepairs;
    u_int32_t badWord = 0; // the word compare() could not mend alone
};
