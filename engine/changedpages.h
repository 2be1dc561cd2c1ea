#pragma once

#include "imageheader.h"

#include <atomic>
#include <optional>
#include <QList>
#include <QString>
#include <vector>

class FlashHandle;
class QFile;
class RunReporter;

// An update that touches only the pages of the flash that do not already hold
// what the full update would leave there, and leaves the flash exactly as the
// full update would have. An image's page as the full update treats it (its
// 128 KiB erase from the page's start, the image's bytes programmed from there)
// can reach into other images' pages, so pages that overlap, across images,
// are judged together: what the full update would make of their flash is
// worked out from the flash as it is, and then they are left alone, only
// programmed (a write only clears bits), or erased twice and written, all of
// them alike. Verification and the final read-back follow as in a full update.
namespace changedpages {

// How the pages went, for a caller that follows the run from another thread.
struct Counts
{
    std::atomic<int> pages{0};
    std::atomic<int> skipped{0};    // already held the update: not touched
    std::atomic<int> rewritten{0};  // erased twice and written
    std::atomic<int> programmed{0}; // written without an erase
};

enum class Action : unsigned char { Skip, Program, EraseAndWrite };

// One action per page of each image, pages counted from the image's own address.
struct Plan
{
    std::vector<std::vector<Action>> actions;

    int count(Action action) const;
    int pages() const;
    int skipped() const { return count(Action::Skip); }
    int programmed() const { return count(Action::Program); }
    int written() const { return pages() - skipped(); }
    // Whether any page is written, of image or of any.
    bool touches(int image) const;
    bool touchesFlash() const;
    // Adds the plan's pages to counts.
    void count(Counts &counts) const;

    // The plan of a full update: every page erased and written.
    static Plan full(const QList<ImageHeader> &images);
};

// Reads the flash every image's pages reach and decides; nothing after a
// failure it has reported.
std::optional<Plan> plan(RunReporter &reporter, const FlashHandle &flash, const QString &filename,
                         QFile &file, const QList<ImageHeader> &images);

// Carries out one image's part of the plan; false after a reported failure.
bool write(RunReporter &reporter, const FlashHandle &flash, const QString &filename, QFile &file,
           const ImageHeader &image, const std::vector<Action> &pages);

} // namespace changedpages
