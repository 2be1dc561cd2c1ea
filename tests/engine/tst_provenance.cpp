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
const char openSslConfig[] =
    "[req]\ndistinguished_name = subject\n[subject]\n"
    "[authority]\nbasicConstraints = critical, CA:TRUE\nkeyUsage = keyCertSign, cRLSign\n"
    "[code_signing]\nbasicConstraints = CA:FALSE\nextendedKeyUsage = codeSigning\n"
    "[ca]\ndefault_ca = authority_db\n[authority_db]\ndatabase = index.txt\n"
    "new_certs_dir = .\nserial = serial\ndefault_md = sha256\npolicy = any_name\n"
    "[any_name]\ncommonName = supplied\n"
    "[naming]\nauthorityKeyIdentifier = keyid:always\n[critical]\n1.3.6.1.4.1.55555.1 = critical, DER:05:00\n"
    "[partial]\nissuingDistributionPoint = critical, @only_user\n[only_user]\nonlyuser = TRUE\n";

// How a row's file comes about; the changes are made after signing and summing. The trusted folder
// may be one of initTestCase's that cannot be read: holding a certificate linked to nothing, linked to
// nothing or to itself, holding a folder or a FIFO named like a certificate. Or it holds the authority
// with a revocation list: its own (revoking Revoked Signer and Test Intermediate), one cut short, or
// one of another authority, not installed, that revokes Test Signer's serial; or Test Signer itself with
// its authority's list. Or the authority with lists of its own (listFolders): several of them, one of
// its name signed by another key, one it cannot apply, one of 100,000 entries, one too large, /dev/zero.
// The checksum file may get a wrong line for the file before or after what sha256sum wrote, or that again.
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
    SumTwice = 8192,
    Revoking = 16384,
    BrokenList = 32768,
    ForeignList = 65536,
    SignerWithList = 131072,
    InFolder = 1 << 18 // times one more than the index in listFolders
};

// The folders of the authority with lists of its own, one of which a row may pick.
const QStringList listFolders = {"passed",   "ahead",   "beside", "named", "unnamed",
                                 "critical", "partial", "large",  "huge",  "zero"};

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
    static int inFolder(const char *name)
    {
        return InFolder * (listFolders.indexOf(QLatin1String(name)) + 1);
    }
    bool tool(const QString &program, const QStringList &arguments, const QString &outputFile = {});
    QTemporaryDir dir;
    QDate expiry; // of Expiring Signer
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
    // Issued by issuer with the serial, for code signing unless another kind is given, from now on.
    const auto issue = [&](const char *name, const char *subject, const char *issuer, const char *serial,
                           const char *kind = "code_signing") {
        return newKey(
                   {"-subj", subject, "-keyout", name + QString(".key"), "-out", name + QString(".csr")}) &&
               tool("openssl",
                    {"x509", "-req", "-in", name + QString(".csr"), "-CA", issuer + QString(".pem"), "-CAkey",
                     issuer + QString(".key"), "-set_serial", serial, "-days", "400", "-extfile",
                     "openssl.cnf", "-extensions", kind, "-out", name + QString(".pem")});
    };
    QVERIFY(newKey({"-x509", "-subj", "/CN=Test Authority", "-days", "400", "-extensions", "authority",
                    "-keyout", "ca.key", "-out", "ca.pem"}) &&
            QFile::copy(dir.filePath("ca.pem"), dir.filePath("trusted/ca.pem")));
    QVERIFY(issue("signer", "/O=Test Vendor/CN=Test Signer", "ca", "2"));
    QVERIFY(issue("revoked", "/CN=Revoked Signer", "ca", "3"));
    QVERIFY(issue("intermediate", "/CN=Test Intermediate", "ca", "4", "authority"));
    QVERIFY(issue("deputy", "/CN=Deputy Signer", "intermediate", "5"));
    // Vouches for itself alone.
    QVERIFY(newKey({"-x509", "-subj", "/CN=Stranger", "-days", "2", "-extensions", "code_signing", "-keyout",
                    "stranger.key", "-out", "stranger.pem"}));
    // Vouched for by the authority, but for 2020 only; and until the end of the day ten days from now.
    expiry = QDateTime::currentDateTimeUtc().date().addDays(10);
    const auto byAuthority = [&](const char *name, const char *subject, const QString &from,
                                 const QString &until) {
        return newKey(
                   {"-subj", subject, "-keyout", name + QString(".key"), "-out", name + QString(".csr")}) &&
               tool("openssl",
                    {"ca", "-batch", "-config", "openssl.cnf", "-cert", "ca.pem", "-keyfile", "ca.key", "-in",
                     name + QString(".csr"), "-startdate", from, "-enddate", until, "-extensions",
                     "code_signing", "-notext", "-out", name + QString(".pem")});
    };
    QVERIFY(byAuthority("lapsed", "/CN=Lapsed Signer", "20200101000000Z", "20201231000000Z"));
    QVERIFY(byAuthority("expiring", "/CN=Expiring Signer", "20200101000000Z",
                        expiry.toString("yyyyMMdd") + "235959Z"));
    // The lists: the authority's own, whose next update has passed, the same cut short, and another
    // authority's revoking serial 2.
    QVERIFY(newKey({"-x509", "-subj", "/CN=Other Authority", "-days", "400", "-extensions", "authority",
                    "-keyout", "other.key", "-out", "other.pem"}));
    const auto revocations = [&](const QByteArray &index, const char *issuer, const QStringList &dates,
                                 const QString &out = {}) {
        return writeBytes(dir.filePath("index.txt"), index) &&
               tool("openssl", QStringList{"ca", "-gencrl", "-config", "openssl.cnf", "-cert",
                                           issuer + QString(".pem"), "-keyfile", issuer + QString(".key"),
                                           "-out", out.isEmpty() ? issuer + QString(".crl") : out} +
                                   dates);
    };
    QVERIFY(revocations("R\t271231000000Z\t260501000000Z,keyCompromise\t03\tunknown\t/CN=Revoked Signer\n"
                        "R\t271231000000Z\t260502000000Z,CACompromise\t04\tunknown\t/CN=Test Intermediate\n",
                        "ca", {"-crl_lastupdate", "20260503000000Z", "-crl_nextupdate", "20260601000000Z"}));
    QVERIFY(revocations("R\t271231000000Z\t260501000000Z,superseded\t02\tunknown\t/CN=Test Signer\n", "other",
                        {"-crldays", "30"}));
    QFile list(dir.filePath("ca.crl"));
    QVERIFY(list.open(QIODevice::ReadOnly));
    const QByteArray listBytes = list.readAll();
    for (const char *folder : {"revoking", "broken", "foreign"})
        QVERIFY(QDir(dir.path()).mkpath(folder) &&
                QFile::copy(dir.filePath("ca.pem"), dir.filePath(folder + QString("/ca.pem"))));
    QVERIFY(writeBytes(dir.filePath("revoking/ca.crl"), listBytes) &&
            writeBytes(dir.filePath("broken/ca.crl"), listBytes.left(listBytes.size() / 2)) &&
            tool("openssl", {"crl", "-in", "other.crl", "-outform", "DER", "-out", "foreign/other.crl"}) &&
            QDir(dir.path()).mkpath("unchecked") && writeBytes(dir.filePath("unchecked/ca.crl"), listBytes) &&
            QFile::copy(dir.filePath("signer.pem"), dir.filePath("unchecked/signer.pem")));
    // Several lists of the authority, and lists it cannot be judged by.
    const QByteArray revokedSigner =
        "R\t271231000000Z\t260501000000Z,keyCompromise\t03\tunknown\t/CN=Revoked Signer\n";
    QByteArray many = revokedSigner;
    for (int serial = 0x100000; serial < 0x100000 + 99999; ++serial)
        many += "R\t271231000000Z\t260401000000Z\t" + QByteArray::number(serial, 16) + "\tunknown\t/CN=n\n";
    for (const QString &folder : listFolders)
        QVERIFY(QDir(dir.path()).mkpath(folder) &&
                QFile::copy(dir.filePath("ca.pem"), dir.filePath(folder + "/ca.pem")));
    QVERIFY(newKey({"-x509", "-subj", "/CN=Test Authority", "-days", "400", "-extensions", "authority",
                    "-keyout", "impostor.key", "-out", "impostor.pem"}));
    for (const char *current : {"passed/current.crl", "ahead/current.crl", "beside/current.crl"})
        QVERIFY(revocations({}, "ca", {"-crldays", "400"}, current));
    QVERIFY(writeBytes(dir.filePath("passed/ca.crl"), listBytes) &&
            revocations(revokedSigner, "ca",
                        {"-crl_lastupdate",
                         QDateTime::currentDateTimeUtc().addDays(1).toString("yyyyMMddHHmmss'Z'"), "-crldays",
                         "30"},
                        "ahead/ahead.crl") &&
            revocations(revokedSigner, "ca", {"-crldays", "30"}, "beside/revoking.crl") &&
            revocations({}, "impostor", {"-crldays", "30", "-crlexts", "naming"}, "named/named.crl") &&
            revocations({}, "impostor", {"-crldays", "30"}, "unnamed/unnamed.crl") &&
            revocations({}, "ca", {"-crldays", "30", "-crlexts", "critical"}, "critical/critical.crl") &&
            revocations({}, "ca", {"-crldays", "30", "-crlexts", "partial"}, "partial/partial.crl") &&
            revocations(many, "ca", {"-crldays", "30"}, "large/large.crl") &&
            writeBytes(dir.filePath("huge/ca.crl"), {}) &&
            QFile::resize(dir.filePath("huge/ca.crl"), (16 << 20) + 1) &&
            QFile::link("/dev/zero", dir.filePath("zero/ca.crl")));
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
        << "" << int(FifoCertificate) << certificate + "/fifo/vendor.pem: not a regular file" << false;

    QTest::newRow("revoked signer")
        << "revoked" << int(Revoking)
        << "the certificate of Revoked Signer (serial 03) was revoked on 2026-05-01: keyCompromise" << false;
    QTest::newRow("revoked intermediate")
        << "deputy" << int(Revoking)
        << "the certificate of Test Intermediate (serial 04) was revoked on 2026-05-02: cACompromise"
        << false;
    QTest::newRow("list installed, signer not on it")
        << "signer" << int(Revoking) << "Signed by Test Signer" << true;
    QTest::newRow("intermediate, no list") << "deputy" << int(Trusting) << "Signed by Deputy Signer" << true;
    QTest::newRow("unparsable list") << "signer" << int(BrokenList)
                                     << "Error reading revocation list " + dir.path() + "/broken/ca.crl"
                                     << false;
    QTest::newRow("list for another authority")
        << "signer" << int(ForeignList) << "Signed by Test Signer" << true;
    QTest::newRow("list about the signer, its issuer not installed")
        << "signer" << int(SignerWithList)
        << "the revocation list " + dir.path() +
               "/unchecked/ca.crl cannot be checked: no trusted certificate of its issuer, CN=Test "
               "Authority, "
               "is installed"
        << false;
    QTest::newRow("expiring signer") << "expiring" << int(Trusting) << "Signed by Expiring Signer" << true;

    const auto refuses = [](const char *name, const char *signer, const char *folder, const QString &said) {
        QTest::newRow(name) << QString(signer) << inFolder(folder) << said << false;
    };
    const QString revoked =
        "the certificate of Revoked Signer (serial 03) was revoked on 2026-05-01: keyCompromise";
    refuses("revoked in a passed list, a current beside", "revoked", "passed", revoked);
    refuses("revoked from tomorrow, a current list beside", "revoked", "ahead", revoked);
    refuses("revoked in a list after an empty one", "revoked", "beside", revoked);
    refuses("revoked in a list of 100,000", "revoked", "large", revoked);
    const QString checking = "Error checking revocation list " + dir.path() + "/";
    const QString forged =
        ": its signature does not verify with the trusted certificate of its issuer, CN=Test Authority";
    refuses("list by another key, naming it", "signer", "named", checking + "named/named.crl" + forged);
    refuses("list by another key", "signer", "unnamed", checking + "unnamed/unnamed.crl" + forged);
    refuses("list with an unknown critical extension", "signer", "critical",
            checking + "critical/critical.crl: it holds a critical extension that cannot be applied, "
                       "1.3.6.1.4.1.55555.1");
    refuses("list for end certificates only", "signer", "partial",
            checking + "partial/partial.crl: it covers only some of its issuer's certificates");
    const QString reading = "Error reading revocation list " + dir.path() + "/";
    refuses("list past the size a list may have", "signer", "huge",
            reading + "huge/ca.crl: 16777217 bytes, more than the 16777216 a revocation list may have");
    refuses("/dev/zero linked in as a list", "signer", "zero", reading + "zero/ca.crl: not a regular file");
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
        QVERIFY(tool(
            "openssl",
            QStringList{"cms", "-sign", "-binary", "-in", path, "-signer", signer + ".pem", "-inkey",
                        signer + ".key", "-outform", (setup & Pem) ? "PEM" : "DER", "-out", path + ".p7s"} +
                (signer == "deputy" ? QStringList{"-certfile", "intermediate.pem"} : QStringList())));
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
        {Trusting, "trusted"},         {DanglingCertificate, "dangling"},
        {DanglingFolder, "gone"},      {LoopingFolder, "loop"},
        {FolderCertificate, "folder"}, {FifoCertificate, "fifo"},
        {Revoking, "revoking"},        {BrokenList, "broken"},
        {ForeignList, "foreign"},      {SignerWithList, "unchecked"}};
    for (const auto &[flag, name] : folders)
        folder = (setup & flag) ? name : folder;
    if (setup >= InFolder)
        folder = listFolders.value(setup / InFolder - 1);
    const QStringList trusted = {dir.filePath("none"), dir.filePath(folder)};
    const QString refusal = said.startsWith("Error ") ? said : "Error in " + path + ": " + said;
    std::future<bool> rescued =
        freeFifoLater(dir.filePath((setup & FifoCertificate) ? "fifo/vendor.pem" : ""));
    const auto snapshot = UpdateSnapshot::capture(path);
    const provenance::Verdict verdict = provenance::check(*snapshot, trusted);
    QVERIFY2(!rescued.get(), "the check sat in open() until a writer came");
    QCOMPARE(accepted ? verdict.origin : verdict.refusal, accepted ? said : refusal);
    // Only a certificate of the chain that expires within 30 days is warned of.
    const int daysLeft = int(QDateTime::currentDateTimeUtc().date().daysTo(expiry));
    QCOMPARE(verdict.warning, signer == "expiring"
                                  ? QString("the certificate of Expiring Signer expires on %1, "
                                            "in %2 days")
                                        .arg(expiry.toString(Qt::ISODate))
                                        .arg(daysLeft)
                                  : QString());

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
