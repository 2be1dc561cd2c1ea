// zarnru-build: writes an update file from images given on the command line.

#include "updatefilebuilder.h"

#include <optional>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTextStream>

namespace {

constexpr int maxNameLength = 4;
constexpr int maxReservedBytes = 12;
constexpr quint64 addressSpace = quint64(1) << 32;
// Far beyond what the utility's 32 MiB buffers take, still well inside QByteArray.
constexpr quint64 maxPatternLength = quint64(1) << 30;

const char description[] =
    "Writes a ZARN update file (.zarnru): a chain of image blocks, each a 32-byte header\n"
    "(version, address, minimum hardware, name, distance to the next header; little-endian)\n"
    "followed by the image data.\n"
    "\n"
    "Each --image takes a comma-separated list of key=value:\n"
    "  name=<1 to 4 characters>    image name (required)\n"
    "  address=<number>            flash address of the data (required)\n"
    "  file=<path>                 the data, from a file, or\n"
    "  pattern=<bytes>             generated data of that length\n"
    "  version=<a.b.c.d>|<number>  version, a most significant (default 0)\n"
    "  minhw=<number>              minimum hardware value (default 0)\n"
    "  seed=<number>               seed of the generated data (default: the image's position)\n"
    "  reserved=<hex>              up to 12 bytes for header bytes 16 to 27 (default zeros)\n"
    "Numbers are decimal or 0x-prefixed hexadecimal.\n"
    "\n"
    "Example:\n"
    "  zarnru-build -i name=BOOT,version=1.0.0.3,address=0x0,minhw=1,file=boot.bin \\\n"
    "               -i name=APP,version=3.4.1.0,address=0x200000,pattern=409723 update.zarnru";

std::optional<quint64> parseNumber(const QString &text, quint64 largest)
{
    bool ok = false;
    const quint64 value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                              ? text.mid(2).toULongLong(&ok, 16)
                              : text.toULongLong(&ok, 10);
    if (!ok || value > largest)
        return std::nullopt;
    return value;
}

std::optional<quint32> parseVersion(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() == 1) {
        const auto value = parseNumber(text, 0xFFFFFFFFu);
        return value ? std::optional<quint32>(quint32(*value)) : std::nullopt;
    }
    if (parts.size() != 4)
        return std::nullopt;
    quint32 version = 0;
    for (const QString &part : parts) {
        const auto byte = parseNumber(part, 0xFF);
        if (!byte)
            return std::nullopt;
        version = (version << 8) | quint32(*byte);
    }
    return version;
}

// Turns the text of one --image into an image, or says what is wrong with it.
std::optional<updatefile::Image> parseImage(const QString &imageText, int position, QString *error)
{
    updatefile::Image image;
    bool haveName = false;
    bool haveAddress = false;
    std::optional<QString> file;
    std::optional<quint64> patternLength;
    quint32 seed = quint32(position);
    auto fail = [&](const QString &message) {
        *error = QStringLiteral("image %1 (%2): %3").arg(position).arg(imageText, message);
        return std::nullopt;
    };
    for (const QString &item : imageText.split(QLatin1Char(','))) {
        const int equals = item.indexOf(QLatin1Char('='));
        if (equals <= 0)
            return fail(QStringLiteral("'%1' is not key=value").arg(item));
        const QString key = item.left(equals);
        const QString value = item.mid(equals + 1);
        if (key == QLatin1String("name")) {
            image.name = value.toLatin1();
            if (image.name.isEmpty() || image.name.size() > maxNameLength)
                return fail(QStringLiteral("the name must have 1 to 4 characters"));
            haveName = true;
        } else if (key == QLatin1String("version")) {
            const auto version = parseVersion(value);
            if (!version)
                return fail(QStringLiteral("version '%1' is neither a.b.c.d nor a 32-bit number").arg(value));
            image.version = *version;
        } else if (key == QLatin1String("address")) {
            const auto address = parseNumber(value, 0xFFFFFFFFu);
            if (!address)
                return fail(QStringLiteral("address '%1' is not a 32-bit number").arg(value));
            image.address = quint32(*address);
            haveAddress = true;
        } else if (key == QLatin1String("minhw")) {
            const auto minHW = parseNumber(value, 0xFFFFFFFFu);
            if (!minHW)
                return fail(QStringLiteral("minhw '%1' is not a 32-bit number").arg(value));
            image.minHW = quint32(*minHW);
        } else if (key == QLatin1String("file")) {
            file = value;
        } else if (key == QLatin1String("pattern")) {
            patternLength = parseNumber(value, maxPatternLength);
            if (!patternLength)
                return fail(QStringLiteral("pattern length '%1' is not a number from 0 to %2")
                                .arg(value)
                                .arg(maxPatternLength));
        } else if (key == QLatin1String("seed")) {
            const auto number = parseNumber(value, 0xFFFFFFFFu);
            if (!number)
                return fail(QStringLiteral("seed '%1' is not a 32-bit number").arg(value));
            seed = quint32(*number);
        } else if (key == QLatin1String("reserved")) {
            image.reserved = QByteArray::fromHex(value.toLatin1());
            if (image.reserved.toHex() != value.toLatin1().toLower() ||
                image.reserved.size() > maxReservedBytes)
                return fail(QStringLiteral("reserved must be up to 12 bytes in hexadecimal"));
        } else {
            return fail(QStringLiteral("unknown key '%1'").arg(key));
        }
    }
    if (!haveName)
        return fail(QStringLiteral("name= is missing"));
    if (!haveAddress)
        return fail(QStringLiteral("address= is missing"));
    if (file.has_value() == patternLength.has_value())
        return fail(QStringLiteral("give exactly one of file= and pattern="));
    if (file) {
        QFile source(*file);
        if (!source.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(*file, source.errorString()));
        image.data = source.readAll();
    } else {
        image.data = updatefile::pattern(seed, int(*patternLength));
    }
    if (image.address + quint64(image.data.size()) > addressSpace)
        return fail(QStringLiteral("the data runs past the end of the 32-bit flash address space"));
    return image;
}

QString dotted(quint32 version)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(version >> 24)
        .arg((version >> 16) & 0xFF)
        .arg((version >> 8) & 0xFF)
        .arg(version & 0xFF);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zarnru-build"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    const QCommandLineOption imageOption({QStringLiteral("i"), QStringLiteral("image")},
                                         QStringLiteral("Adds an image; repeat for more, in file order."),
                                         QStringLiteral("key=value,..."));
    const QCommandLineOption quietOption({QStringLiteral("q"), QStringLiteral("quiet")},
                                         QStringLiteral("Prints nothing on success."));
    parser.addOption(imageOption);
    parser.addOption(quietOption);
    parser.addPositionalArgument(QStringLiteral("output"), QStringLiteral("The update file to write."));
    parser.process(app);

    QTextStream err(stderr);
    const QStringList positional = parser.positionalArguments();
    const QStringList specs = parser.values(imageOption);
    if (positional.size() != 1 || specs.isEmpty()) {
        err << "zarnru-build: give one output file and at least one --image; see --help\n";
        return 1;
    }

    QList<updatefile::Image> images;
    quint64 total = 0;
    for (int i = 0; i < specs.size(); ++i) {
        QString error;
        const auto image = parseImage(specs.at(i), i + 1, &error);
        if (!image) {
            err << "zarnru-build: " << error << "\n";
            return 1;
        }
        total += updatefile::headerSize + quint64(image->data.size());
        images.append(*image);
    }
    // Offsets and sizes in the file are 32-bit.
    if (total >= addressSpace) {
        err << "zarnru-build: the update file would reach 4 GiB\n";
        return 1;
    }

    const QString output = positional.first();
    if (!updatefile::writeFile(output, images)) {
        err << "zarnru-build: cannot write " << output << "\n";
        return 1;
    }
    if (!parser.isSet(quietOption)) {
        QTextStream out(stdout);
        out << output << ": " << images.size() << (images.size() == 1 ? " image, " : " images, ") << total
            << " bytes\n";
        for (const auto &image : images) {
            out << "  " << QString::fromLatin1(image.name).leftJustified(maxNameLength) << "  version "
                << dotted(image.version) << "  address 0x" << QString::number(image.address, 16)
                << "  min HW " << image.minHW << "  " << image.data.size() << " bytes\n";
        }
    }
    return 0;
}
