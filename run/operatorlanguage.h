#pragma once

#include <QString>

// The operator's language. The utility's texts are written in English and
// stay so wherever they are kept or read by a program (the history, the
// journal, the JSON output, the debug output, the exit status); they are put
// in the operator's language only where a person reads them.
namespace operatorlanguage {

// The locale that messages follow, as the C library picks it: LC_ALL, else
// LC_MESSAGES, else LANG. Empty for none, C and POSIX, which mean the texts
// as written.
QString messagesLocale();

// Loads the utility's translation for that locale and the toolkit's own (its
// standard buttons), and installs both in the application, which must exist;
// before any text is made. A locale without a translation loads nothing.
// Returns whether the utility's translation was found. Installing again
// takes back what an earlier call installed. folder, where given, is the one
// place looked in for the utility's translation.
bool install(const QString &folder = QString());

// Whether a translation of the utility is installed.
bool active();

// One of the utility's own texts in the operator's language, before the
// application exists (the window program's --help and its display errors).
QString early(const char *context, const char *text);

// A line that the lower rooms made in English (a status line, a refusal, a
// cause, a warning) in the operator's language, its parts the line names
// (files, addresses, the system's words) kept as they are and its quoted
// lines translated in turn. A line the catalogue does not know comes out as
// it is. Only ever for showing: nothing decides anything from what it gives.
QString shown(const QString &line);

// A table of English lines with their %1.. (and %n for a count) placeholders,
// marked with QT_TRANSLATE_NOOP / QT_TRANSLATE_N_NOOP in context so that
// lupdate finds them. Tables added later are tried first.
struct Catalogue
{
    const char *context;
    const char *const *lines;
    int count;
};
void addCatalogue(const Catalogue &catalogue);

} // namespace operatorlanguage
