#include "clicatalogue.h"

#include <QtGlobal>

namespace {

// As the commands make them, their variable parts as placeholders, the longer
// of two that could match first. A line added or reworded there is added or
// reworded here; the words of a JSON event never pass through here.
const char *const lines[] = {
    QT_TRANSLATE_NOOP("CommandLine", "warning: %1"),
    QT_TRANSLATE_NOOP("CommandLine", "unknown command or wrong arguments: %1"),
    QT_TRANSLATE_NOOP("CommandLine", "%1: the certificate of %2 expires on %3, %4"),
    // versions, info, check, verify, backup
    QT_TRANSLATE_NOOP("CommandLine", "Hardware timestamp: %1"),
    QT_TRANSLATE_NOOP("CommandLine", "Software version:   %1"),
    QT_TRANSLATE_NOOP("CommandLine", "PID version:        %1"),
    QT_TRANSLATE_NOOP("CommandLine", "%1 (not given by the driver: a stand-in)"),
    QT_TRANSLATE_NOOP("CommandLine", "%1. %2  version %3  min HW %4  address %5  size %6"),
    QT_TRANSLATE_N_NOOP("CommandLine", "%1: %n images, %2, ready to update"),
    QT_TRANSLATE_NOOP("CommandLine", "image %1 (%2) at %3: %4"),
    QT_TRANSLATE_NOOP("CommandLine", "equal"),
    QT_TRANSLATE_NOOP("CommandLine", "DIFFERS"),
    QT_TRANSLATE_N_NOOP("CommandLine", "the flash does not hold %1: %2 of %n images differ"),
    QT_TRANSLATE_NOOP("CommandLine", "%1 cannot be written: %2"),
    QT_TRANSLATE_NOOP("CommandLine", "it is a link to nothing"),
    QT_TRANSLATE_NOOP("CommandLine", "%1 is not a regular file: a backup is written only to a regular file"),
    QT_TRANSLATE_NOOP("CommandLine", "%1 is the update file itself: the backup would replace it"),
    QT_TRANSLATE_NOOP("CommandLine", "%1 exists: give --force to replace it"),
    QT_TRANSLATE_N_NOOP("CommandLine", "Saved what the flash holds for %n images in %1"),
    // history
    QT_TRANSLATE_NOOP("CommandLine", "%1  [zarn-update resume finishes it]  [zarn-update restore undoes it]"),
    QT_TRANSLATE_NOOP("CommandLine", "%1  [zarn-update resume finishes it]"),
    QT_TRANSLATE_NOOP("CommandLine", "%1  [zarn-update restore undoes it]"),
    QT_TRANSLATE_N_NOOP("CommandLine", "%1  %2  %3  %4  %n images  %5 s  %6"),
    // update
    QT_TRANSLATE_N_NOOP("CommandLine", "Update the ZARN flash with these %n images?"),
    QT_TRANSLATE_NOOP("CommandLine", "not confirmed: give --yes to update without a question"),
    QT_TRANSLATE_NOOP("CommandLine", "not confirmed: nothing was changed"),
    QT_TRANSLATE_NOOP("CommandLine", "image %1 of %2 %3 | %4 %5% | total %6% | %7 elapsed, %8 left"),
    QT_TRANSLATE_NOOP("CommandLine", "starting"),
    QT_TRANSLATE_NOOP("CommandLine", "comparing"),
    QT_TRANSLATE_NOOP("CommandLine", "erasing"),
    QT_TRANSLATE_NOOP("CommandLine", "writing"),
    QT_TRANSLATE_NOOP("CommandLine", "verifying"),
    QT_TRANSLATE_NOOP("CommandLine", "final check"),
    QT_TRANSLATE_NOOP("CommandLine", "The update will not be recorded in the history: %1"),
    QT_TRANSLATE_NOOP("CommandLine", "Pages: %1 skipped, %2 written (%3 without erasing), of %4"),
    // With the cause of the failed call, which is translated on its own.
    QT_TRANSLATE_NOOP("CommandLine",
                      "the update failed: %1 (%2). The ZARN system may not start: run the update again "
                      "before restarting."),
    QT_TRANSLATE_NOOP("CommandLine",
                      "the update did not take place: %1 (%2). The flash memory was not changed."),
    QT_TRANSLATE_NOOP("CommandLine",
                      "the update failed: %1. The ZARN system may not start: run the update again "
                      "before restarting."),
    QT_TRANSLATE_NOOP("CommandLine", "the update did not take place: %1. The flash memory was not changed."),
    QT_TRANSLATE_NOOP("CommandLine", "Going on as asked (%1): %2"),
    // resume, restore
    QT_TRANSLATE_NOOP("CommandLine",
                      "Nothing to finish: the newest update, started %1 from %2, ended verified."),
    QT_TRANSLATE_NOOP("CommandLine",
                      "The update started %1 from %2 cannot be finished: the journal kept no copy "
                      "of it"),
    QT_TRANSLATE_NOOP("CommandLine", "Finishing the update started %1 by %2 from %3."),
    QT_TRANSLATE_N_NOOP("CommandLine",
                        "Finishing it would erase and write %n pages back as they were; nothing "
                        "was changed."),
    QT_TRANSLATE_NOOP("CommandLine", "Finish this update of the ZARN flash?"),
    QT_TRANSLATE_NOOP("CommandLine",
                      "Only the newest update can be undone: %1 was followed by %2, started %3"),
    QT_TRANSLATE_NOOP("CommandLine",
                      "The update started %1 from %2 cannot be undone: the journal kept no copy of "
                      "what the flash held before it"),
    QT_TRANSLATE_N_NOOP("CommandLine",
                        "Restoring what the flash held before the update started %1 by %2 from "
                        "%3: %n pages."),
    QT_TRANSLATE_NOOP("CommandLine", "Restore the previous contents of the ZARN flash?"),
    // the dry run
    QT_TRANSLATE_NOOP("CommandLine", "%1. %2 at %3: %4 pages: %5 to erase and write, %6 to write without "
                                     "erasing, %7 left as they are"),
    QT_TRANSLATE_NOOP("CommandLine",
                      "An update would erase and write %1 of %2 pages, write %3 without erasing "
                      "and leave %4 as they are; nothing was changed."),
    QT_TRANSLATE_NOOP("CommandLine",
                      "No earlier update on this system gives the device's speed to estimate the "
                      "time."),
    QT_TRANSLATE_NOOP("CommandLine",
                      "It would take about %1 s of device time, at the speed of the update of %2."),
    // trust
    QT_TRANSLATE_NOOP("CommandLine", "Certificate %1"),
    QT_TRANSLATE_NOOP("CommandLine", "  subject       %1"),
    QT_TRANSLATE_NOOP("CommandLine", "  issuer        %1 (not installed)"),
    QT_TRANSLATE_NOOP("CommandLine", "  issuer        %1 (installed, its signature verifies)"),
    QT_TRANSLATE_NOOP("CommandLine", "  issuer        %1 (installed, but the signature does not verify)"),
    QT_TRANSLATE_NOOP("CommandLine", "  issuer        %1"),
    QT_TRANSLATE_NOOP("CommandLine", "  serial        %1"),
    QT_TRANSLATE_NOOP("CommandLine", "  valid         %1"),
    QT_TRANSLATE_NOOP("CommandLine", "%1 to %2, expired %3 days ago"),
    QT_TRANSLATE_NOOP("CommandLine", "%1 to %2, %3 days left"),
    QT_TRANSLATE_NOOP("CommandLine", "  code signing  %1"),
    QT_TRANSLATE_NOOP("CommandLine", "  authority     %1"),
    QT_TRANSLATE_NOOP("CommandLine", "yes"),
    QT_TRANSLATE_NOOP("CommandLine", "no"),
    QT_TRANSLATE_NOOP("CommandLine", "Revocation list %1"),
    QT_TRANSLATE_NOOP("CommandLine", "  updated       %1, next update %2 (passed; still used)"),
    QT_TRANSLATE_NOOP("CommandLine", "  updated       %1, next update %2"),
    QT_TRANSLATE_NOOP("CommandLine", "  updated       %1, no next update given"),
    QT_TRANSLATE_N_NOOP("CommandLine", "  revoked       %n certificates"),
    QT_TRANSLATE_N_NOOP("CommandLine", "  revoked       %n certificate"),
    QT_TRANSLATE_NOOP("CommandLine", "  refuses       every update file: %1"),
    QT_TRANSLATE_NOOP("CommandLine", "%1 does not exist"),
    QT_TRANSLATE_NOOP("CommandLine", "No trusted certificate in %1: unsigned update files are accepted"),
};

} // namespace

operatorlanguage::Catalogue clicatalogue::commandLine()
{
    return {"CommandLine", lines, int(sizeof lines / sizeof *lines)};
}
