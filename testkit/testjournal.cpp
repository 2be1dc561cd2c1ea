// Compiled into every test and benchmark: its programs, in the process and in
// child processes alike, keep their journal and their own state in a folder
// of the test, never in the system's, whoever runs the test and whatever is
// installed. A test that wants another names it for its child.

#include "journal.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

struct TestJournal
{
    QTemporaryDir folder{QDir::tempPath() + QStringLiteral("/zarn-test-journal-XXXXXX")};

    TestJournal()
    {
        const QString journal = folder.filePath(QStringLiteral("journal"));
        const QString state = folder.filePath(QStringLiteral("state"));
        // Without the folder the programs would fall back to the user's own, and say so.
        if (!folder.isValid() || !QDir().mkpath(journal) || !QDir().mkpath(state))
            qFatal("no folder for the test's journal");
        qputenv(journal::directoryVariable, QFile::encodeName(journal));
        qputenv("XDG_STATE_HOME", QFile::encodeName(state));
    }
};

const TestJournal testJournal;

} // namespace
