#include "operatorlanguage.h"

#include "linecatalogue.h"

#include <clocale>
#include <memory>
#include <mutex>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <QTranslator>
#include <vector>

namespace operatorlanguage {

namespace {

const char translationName[] = "zarn-update-utility";
// A translation of the utility is some hundred KiB; the toolkit's own some
// hundred. Anything larger is not one of them, and is not read.
const qint64 largestTranslation = 8 * 1024 * 1024;

// What a translator reads must outlive it.
struct Loaded
{
    QByteArray bytes;
    std::unique_ptr<QTranslator> translator;
};
std::vector<Loaded> loaded;
bool utilityLoaded = false;

// Read only when it is a regular file of a sane size: a FIFO or a device in
// its place would make the program wait before its window or its first line.
std::unique_ptr<Loaded> readTranslation(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > largestTranslation)
        return nullptr;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    auto result = std::make_unique<Loaded>();
    result->bytes = file.read(largestTranslation);
    result->translator = std::make_unique<QTranslator>();
    if (!result->translator->load(reinterpret_cast<const uchar *>(result->bytes.constData()),
                                  result->bytes.size(), QFileInfo(path).absolutePath()))
        return nullptr;
    return result;
}

// de_DE -> name_de_DE.qm, then name_de.qm, in each folder in turn.
std::unique_ptr<Loaded> findTranslation(const QString &name, const QStringList &folders)
{
    const QString locale = messagesLocale();
    if (locale.isEmpty())
        return nullptr;
    QStringList tags{QLocale(locale).name()};
    tags << tags.first().section(QLatin1Char('_'), 0, 0);
    for (const QString &folder : folders)
        for (const QString &tag : tags)
            if (auto found = readTranslation(folder + QLatin1Char('/') + name + QLatin1Char('_') + tag +
                                             QStringLiteral(".qm")))
                return found;
    return nullptr;
}

// Installed beside the program's prefix, whatever it is; in the build tree
// beside the programs' own folders. Asked of the system, not of the
// application, which the window program's first words come before.
QStringList utilityFolders()
{
    const QString programs = QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
    return {programs + QStringLiteral("/../share/zarn-update-utility/translations"),
            programs + QStringLiteral("/../translations")};
}

struct Pattern
{
    const char *context;
    const char *source;
    QString prefix;
    QRegularExpression expression;
    QList<int> placeholders; // the placeholder of each group: 1..9, or 0 for %n
};

std::mutex catalogueMutex;
std::vector<Catalogue> catalogues;
std::vector<Pattern> patterns;

// %1..%9 match anything, as little as lets the rest match; %n a count; a
// placeholder met again is the same text again.
Pattern patternOf(const char *context, const char *source)
{
    Pattern pattern{context, source, {}, {}, {}};
    const QString text = QString::fromUtf8(source);
    static const QRegularExpression placeholder(QStringLiteral("%([1-9n])"));
    QString expression = QStringLiteral("\\A");
    int at = 0;
    QRegularExpressionMatchIterator found = placeholder.globalMatch(text);
    while (found.hasNext()) {
        const QRegularExpressionMatch match = found.next();
        const QString literal = text.mid(at, match.capturedStart() - at);
        if (pattern.placeholders.isEmpty())
            pattern.prefix = literal;
        expression += QRegularExpression::escape(literal);
        const QChar which = match.captured(1).at(0);
        const int number = which == QLatin1Char('n') ? 0 : which.digitValue();
        if (const int group = pattern.placeholders.indexOf(number); group >= 0) {
            expression += QStringLiteral("\\%1").arg(group + 1);
        } else {
            pattern.placeholders << number;
            expression += number == 0 ? QStringLiteral("([0-9]+)") : QStringLiteral("(.+?)");
        }
        at = match.capturedEnd();
    }
    if (pattern.placeholders.isEmpty())
        pattern.prefix = text;
    expression += QRegularExpression::escape(text.mid(at)) + QStringLiteral("\\z");
    pattern.expression.setPattern(expression);
    pattern.expression.setPatternOptions(QRegularExpression::DotMatchesEverythingOption);
    pattern.expression.optimize();
    return pattern;
}

// One pass, so that a file named "%1" reads as itself.
QString fill(const QString &text, const QStringList &arguments)
{
    QString result;
    result.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const int number = i + 1 < text.size() ? text.at(i + 1).digitValue() : -1;
        if (text.at(i) == QLatin1Char('%') && number >= 1 && number <= arguments.size()) {
            result += arguments.at(number - 1);
            ++i;
        } else {
            result += text.at(i);
        }
    }
    return result;
}

QString shownAt(const QString &line, int depth)
{
    if (line.isEmpty() || depth > 4)
        return line;
    for (const Pattern &pattern : patterns) {
        if (!line.startsWith(pattern.prefix))
            continue;
        const QRegularExpressionMatch match = pattern.expression.match(line);
        if (!match.hasMatch())
            continue;
        QStringList arguments;
        int count = -1;
        for (int group = 0; group < pattern.placeholders.size(); ++group) {
            const int number = pattern.placeholders.at(group);
            if (number == 0) {
                count = match.captured(group + 1).toInt();
                continue;
            }
            while (arguments.size() < number)
                arguments << QString();
            arguments[number - 1] = shownAt(match.captured(group + 1), depth + 1);
        }
        return fill(QCoreApplication::translate(pattern.context, pattern.source, nullptr, count), arguments);
    }
    return line;
}

} // namespace

QString messagesLocale()
{
    QString locale;
    for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        locale = qEnvironmentVariable(variable);
        if (!locale.isEmpty())
            break;
    }
    if (locale == QLatin1String("C") || locale == QLatin1String("POSIX") ||
        locale.startsWith(QLatin1String("C.")))
        return QString();
    return locale;
}

bool install(const QString &folder)
{
    // The C library's own words (the cause of a failed call) go into the
    // history and the JSON events, which scripts read: they stay as it writes
    // them in C, whatever the locale, and are put in the operator's words
    // only where shown, with the lines that carry them.
    std::setlocale(LC_MESSAGES, "C");
    for (Loaded &earlier : loaded)
        QCoreApplication::removeTranslator(earlier.translator.get());
    loaded.clear();
    utilityLoaded = false;
    auto utility = findTranslation(QString::fromLatin1(translationName),
                                   folder.isEmpty() ? utilityFolders() : QStringList{folder});
    if (!utility)
        return false;
    // The standard buttons of a box in the same language as its text; without
    // the toolkit's translation they stay as the toolkit writes them.
    if (auto toolkit = findTranslation(QStringLiteral("qtbase"),
                                       {QLibraryInfo::location(QLibraryInfo::TranslationsPath)})) {
        QCoreApplication::installTranslator(toolkit->translator.get());
        loaded.push_back(std::move(*toolkit));
    }
    QCoreApplication::installTranslator(utility->translator.get());
    loaded.push_back(std::move(*utility));
    utilityLoaded = true;
    // Only once a translation is there: the texts as written need no catalogue.
    static std::once_flag lowerRooms;
    std::call_once(lowerRooms, [] { addCatalogue(linecatalogue::lowerRooms()); });
    return true;
}

bool active()
{
    return utilityLoaded;
}

QString early(const char *context, const char *text)
{
    if (const auto utility = findTranslation(QString::fromLatin1(translationName), utilityFolders())) {
        const QString translated = utility->translator->translate(context, text);
        if (!translated.isEmpty())
            return translated;
    }
    return QString::fromUtf8(text);
}

QString shown(const QString &line)
{
    if (!utilityLoaded)
        return line;
    const std::lock_guard<std::mutex> hold(catalogueMutex);
    return shownAt(line, 0);
}

void addCatalogue(const Catalogue &catalogue)
{
    const std::lock_guard<std::mutex> hold(catalogueMutex);
    std::vector<Pattern> added;
    for (int i = 0; i < catalogue.count; ++i)
        added.push_back(patternOf(catalogue.context, catalogue.lines[i]));
    patterns.insert(patterns.begin(), added.begin(), added.end());
}

} // namespace operatorlanguage
