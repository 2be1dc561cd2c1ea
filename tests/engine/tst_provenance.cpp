// Where an update file comes from: what the check says, and whether the run then flashes it.
// The certificates are made afresh by the openssl command; no key outlives the test.

#include "provenance.h"
#include "runkit.h"
#include "updatesnapshot.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace runkit;

namespace {

// Enough for req, x509 and ca, without the machine's own configuration.
const char openSslConfig[] = "[req]\ndistinguished_name = subject\n[subject]\n"
                             "[authority]\nbasicConstraints = critical, CA:TRUE\nkeyUsage = keyCertSign\n"
                             "[code_signing]\nbasicConstraints = CA:FALSE\nextendedKeyUsage = codeSigning\n"
                             "[ca]\ndefault_ca = authority_db\n[authority_db]\ndatabase = index.txt\n"
                             "new_certs_dir = .\nserial = serial\ndefault_md = sha256\npolicy = any_name\n"
                             "[any_name]\ncommonName = supplied\n";

// How a row's file comes about; the changes are made after signing and summing. The trusted folder
// may be one of initTestCase's that cannot be read: holding a certificate linked to nothing, linked to
// nothing or to itself, holding a folder or a FIFO named like a certificate. The checksum file may get
// a wrong line for the file before or after what sha256sum wrote, or that again.
enum Setup {
    Trusting = 1,
    Pem = 2,
    Summed = 4,
    OtherFileSigned = 8,
    ByteChanged = 16,
    CutShort = 32,
    DanglingCertificate = 64,
    DanglingFolder = 128,
    LoopingFolder = 256,
    FolderCertificate = 512,
    FifoCertificate = 1024,
    WrongSumFirst = 2048,
    WrongSumLast = 4096,
    SumTwice = 8192
};

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class TestProvenance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { zarnsim::reset(); }
    void verdictAndRun_data();
    void verdictAndRun();

private:
    bool tool(const QString &program, const QStringList &arguments, const QString &outputFile = {});
    QTemporaryDir dir;
};

bool TestProvenance::tool(const QString &program, const QStringList &arguments, const QString &outputFile)
{
    QProcess process;
    process.setWorkingDirectory(dir.path());
    if (!outputFile.isEmpty())
        process.setStandardOutputFile(dir.filePath(outputFile));
    process.start(program, arguments);
    const bool ran = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
                     process.exitCode() == 0;
    if (!ran)
        qWarning() << program << arguments << process.readAllStandardError();
    return ran;
}

void TestProvenance::initTestCase()
{
    QVERIFY(dir.isValid() && QDir(dir.path()).mkpath(QStringLiteral("trusted")) &&
            QDir(dir.path()).mkpath(QStringLiteral("none")));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("openssl.cnf")), openSslConfig));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("index.txt")), {}));
    QVERIFY(writeBytes(dir.filePath(QStringLiteral("serial")), "10\n"));
    // A new key, with a certificate of its own (-x509) or a request for one.
    const auto newKey = [this](const QStringList &arguments) {
        return tool("openssl", QStringList{"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                                           "-nodes", "-config", "openssl.cnf"} +
                                   arguments);
    };
    QVERIFY(newKey({"-x509", "-subj", "/CN=Test Authority", "-days", "2", "-extensions", "authority",
                    "-keyout", "ca.key", "-out", "trusted/ca.pem"}));
    QVERIFY(
        newKey({"-subj", "/O=Test Vendor/CN=Test Signer", "-keyout", "signer.key", "-out", "signer.csr"}));
    QVERIFY(tool("openssl", {"x509", "-req", "-in", "signer.csr", "-CA", "trusted/ca.pem", "-CAkey", "ca.key",
                             "-set_serial", "2", "-days", "2", "-extfile", "openssl.cnf", "-extensions",
                             "code_signing", "-out", "signer.pem"}));
    // Vouches for itself alone.
    QVERIFY(newKey({"-x509", "-subj", "/CN=Stranger", "-days", "2", "-extensions", "code_signing", "-keyout",
                    "stranger.key", "-out", "stranger.pem"}));
    // Vouched for by the authority, but for 2020 only.
    QVERIFY(newKey({"-subj", "/CN=Lapsed Signer", "-keyout", "lapsed.key", "-out", "lapsed.csr"}));
    QVERIFY(
        tool("openssl", {"ca", "-batch", "-config", "openssl.cnf", "-cert", "trusted/ca.pem", "-keyfile",
                         "ca.key", "-in", "lapsed.csr", "-startdate", "20200101000000Z", "-enddate",
                         "20201231000000Z", "-extensions", "code_signing", "-notext", "-out", "lapsed.pem"}));
    for (const char *folder : {"dangling", "folder/sub.pem", "fifo"})
        QVERIFY(QDir(dir.path()).mkpath(folder));
    QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("dangling/vendor.pem")) &&
            QFile::link(dir.filePath("nowhere"), dir.filePath("gone")) &&
            QFile::link(dir.filePath("loop"), dir.filePath("loop")) &&
            QFile::copy(dir.filePath("trusted/ca.pem"), dir.filePath("folder/ca.pem")) &&
            ::mkfifo(QFile::encodeName(dir.filePath("fifo/vendor.pem")).constData(), 0600) == 0);
}

void TestProvenance::verdictAndRun_data()
{
    QTest::addColumn<QString>("signer"); // empty: no signature
    QTest::addColumn<int>("setup");
    QTest::addColumn<QString>("said"); // status text, refusal after "Error in <file>: ", or whole line
    QTest::addColumn<bool>("accepted");

    const QString mismatch = QStringLiteral("signature update.zarnru.p7s does not match the file");
    QTest::newRow("good signature") << "signer" << int(Trusting) << "Signed by Test Signer" << true;
    QTest::newRow("good signature, PEM, checksum")
        << "signer" << (Trusting | Pem | Summed) << "Signed by Test Signer" << true;
    QTest::newRow("untrusted signer")
        << "stranger" << int(Trusting) << "signed by Stranger, whom no trusted certificate vouches for"
        << false;
    QTest::newRow("signature of another file")
        << "signer" << (Trusting | OtherFileSigned) << mismatch << false;
    QTest::newRow("one byte changed after signing")
        << "signer" << (Trusting | ByteChanged) << mismatch << false;
    QTest::newRow("cut short in its last image") << "signer" << (Trusting | CutShort) << mismatch << false;
    QTest::newRow("expired signer") << "lapsed" << int(Trusting)
                                    << "the certificate of Lapsed Signer expired on 2020-12-31" << false;
    QTest::newRow("signed, no certificate installed")
        << "signer" << 0
        << "signature update.zarnru.p7s cannot be checked: no trusted certificate is installed" << false;
    QTest::newRow("unsigned, certificates installed")
        << "" << int(Trusting) << "not signed, and only files signed by a trusted certificate are accepted"
        << false;
    QTest::newRow("unsigned, none installed") << "" << 0 << "Not signed" << true;
    QTest::newRow("checksum right") << "" << int(Summed) << "Checksum verified" << true;
    QTest::newRow("checksum wrong") << "" << (Summed | ByteChanged)
                                    << "its SHA-256 checksum differs from the one in update.zarnru.sha256"
                                    << false;
    QTest::newRow("checksum wrong, then right")
        << "" << (Summed | WrongSumFirst)
        << "its SHA-256 checksum differs from the one in update.zarnru.sha256" << false;
    QTest::newRow("checksum right, then wrong")
        << "" << (Summed | WrongSumLast)
        << "its SHA-256 checksum differs from the one in update.zarnru.sha256" << false;
    QTest::newRow("checksum right twice") << "" << (Summed | SumTwice) << "Checksum verified" << true;

    const QString certificate = QStringLiteral("Error reading trusted certificate ") + dir.path();
    const QString folder = QStringLiteral("Error reading the trusted certificates in ") + dir.path();
    QTest::newRow("certificate linked to nothing")
        << "" << int(DanglingCertificate) << certificate + "/dangling/vendor.pem: No such file or directory"
        << false;
    QTest::newRow("trusted folder linked to nothing")
        << "" << int(DanglingFolder) << folder + "/gone: No such file or directory" << false;
    QTest::newRow("trusted folder linked to itself")
        << "" << int(LoopingFolder) << folder + "/loop: Too many levels of symbolic links" << false;
    QTest::newRow("folder named like a certificate")
        << "signer" << int(FolderCertificate) << certificate + "/folder/sub.pem: Is a directory" << false;
    QTest::newRow("FIFO named like a certificate")
        << "" << int(FifoCertificate) << certificate + "/fifo/vendor.pem" << false;
}

// The verdict names what the operator is told; a refused file never reaches
// the flash, even in a run started without the window, and an accepted one does.
void TestProvenance::verdictAndRun()
{
    QFETCH(QString, signer);
    QFETCH(int, setup);
    QFETCH(QString, said);
    QFETCH(bool, accepted);
    const QList<updatefile::Image> images = {image("BOOT", 0x40000, updatefile::pattern(1, 3000)),
                                             image("APP", 0x80000, updatefile::pattern(2, 5000))};
    const QString path = dir.filePath(QStringLiteral("update.zarnru"));
    for (const char *suffix : {".p7s", ".sha256"})
        QFile::remove(path + QLatin1String(suffix));
    QByteArray bytes = updatefile::build(images);
    QVERIFY(writeBytes(path, (setup & OtherFileSigned) ? updatefile::build(images.mid(1)) : bytes));
    if (!signer.isEmpty())
        QVERIFY(tool("openssl",
                     {"cms", "-sign", "-binary", "-in", path, "-signer", signer + ".pem", "-inkey",
                      signer + ".key", "-outform", (setup & Pem) ? "PEM" : "DER", "-out", path + ".p7s"}));
    QVERIFY(!(setup & Summed) || tool("sha256sum", {"update.zarnru"}, "update.zarnru.sha256"));
    if (setup & (WrongSumFirst | WrongSumLast | SumTwice)) {
        QFile sums(path + ".sha256");
        QVERIFY(sums.open(QIODevice::ReadOnly));
        const QByteArray right = sums.readAll();
        const QByteArray wrong = QByteArray(64, '0') + "  update.zarnru\n";
        QVERIFY(writeBytes(sums.fileName(), (setup & WrongSumFirst)  ? wrong + right
                                            : (setup & WrongSumLast) ? right + wrong
                                                                     : right + right));
    }
    if (setup & ByteChanged)
        bytes[100] = char(bytes.at(100) ^ 0x01);
    if (setup & CutShort)
        bytes.chop(1000);
    QVERIFY(writeBytes(path, bytes));

    // An empty directory, then the row's own or none at all.
    QString folder = QStringLiteral("absent");
    const QList<QPair<int, const char *>> folders = {
        {Trusting, "trusted"},   {DanglingCertificate, "dangling"}, {DanglingFolder, "gone"},
        {LoopingFolder, "loop"}, {FolderCertificate, "folder"},     {FifoCertificate, "fifo"}};
    for (const auto &[flag, name] : folders)
        folder = (setup & flag) ? name : folder;
    const QStringList trusted = {dir.filePath("none"), dir.filePath(folder)};
    const QString refusal = said.startsWith("Error ") ? said : "Error in " + path + ": " + said;
    std::future<bool> rescued =
        freeFifoLater(dir.filePath((setup & FifoCertificate) ? "fifo/vendor.pem" : ""));
    const auto snapshot = UpdateSnapshot::capture(path);
    const provenance::Verdict verdict = provenance::check(*snapshot, trusted);
    QVERIFY2(!rescued.get(), "the check sat in open() until a writer came");
    QCOMPARE(accepted ? verdict.origin : verdict.refusal, accepted ? said : refusal);

    UpdaterThread worker;
    worker.setFilename(path);
    worker.setTrustedDirectories(trusted);
    RunWatcher watcher;
    watcher.watch(&worker);
    worker.process(); // a refusal of the file's own would end the run with another line
    QCOMPARE(watcher.run().lines().last(), accepted ? QString::fromLatin1(updateDoneText) : refusal);
    if (!accepted)
        QVERIFY(zarnsim::record().empty());
    for (const updatefile::Image &image : images)
        QCOMPARE(flash(image.address, quint32(image.data.size())),
                 accepted ? image.data : QByteArray(image.data.size(), '\xff'));
}

QTEST_GUILESS_MAIN(TestProvenance)
#include "tst_provenance.moc"
