// The MIME types of the save files and card images, as a file manager sees
// them: a MIME database is built from data/travosk-mime.xml beside the
// freedesktop.org types, and Qt's MIME reader (the one the desktop's file
// dialogs use) names files by their names and by their first bytes. The
// desktop entry and the metainfo must offer exactly the types defined.
#include <QDir>
#include <QFile>
#include <QMimeDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString Env(const char* name) { return QString::fromLocal8Bit(qgetenv(name)); }

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QSet<QString> Matches(const QString& text, const QString& pattern) {
  QSet<QString> out;
  QRegularExpression re(pattern);
  for (auto it = re.globalMatch(text); it.hasNext();) out.insert(it.next().captured(1));
  return out;
}

const char* const kAppId = "example.travosk.Travosk";

}  // namespace

class MimeTypesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    QVERIFY(db_.isValid());
    const QString packages = db_.path() + "/mime/packages";
    QVERIFY(QDir().mkpath(packages));
    QVERIFY(QFile::copy(Env("TRAVOSK_SOURCE") + "/data/travosk-mime.xml", packages + "/travosk.xml"));
    // The freedesktop.org types are there to show that ours take no name
    // that belongs to another type.
    QFile::copy("/usr/share/mime/packages/freedesktop.org.xml", packages + "/freedesktop.org.xml");
    // Set before update-mime-database runs (it warns about a folder outside
    // the search path) and before the first look into the database.
    qputenv("XDG_DATA_DIRS", db_.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (db_.path() + "/home").toLocal8Bit());
    QProcess update;
    update.start(Env("UPDATE_MIME_DATABASE"), {db_.path() + "/mime"});
    QVERIFY(update.waitForFinished(60000));
    QCOMPARE(update.exitCode(), 0);
    // A mistake in our file is a warning on stderr, not a failure.
    QCOMPARE(update.readAllStandardError(), QByteArray());
  }

  void NamesAndFirstBytesGiveTheTypes() {
    const QMimeDatabase mime;
    auto type_of = [&](const QString& name, const QByteArray& bytes) {
      const QString path = db_.path() + "/" + name;
      QFile f(path);
      if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return QString("?");
      f.close();
      return mime.mimeTypeForFile(path).name();
    };
    const QByteArray ps2_card = ReadAll(Env("TRAVOSK_DATA") + "/demo-ps2.ps2");
    QVERIFY(!ps2_card.isEmpty());
    // By name.
    const QByteArray zeros(64, '\0');
    const QList<QPair<QString, QString>> by_name = {
        {"a.psu", "application/x-ps2-psu-save"},  {"a.max", "application/x-ps2-max-save"},
        {"a.cbs", "application/x-ps2-cbs-save"},  {"a.sps", "application/x-ps2-sps-save"},
        {"a.psv", "application/x-psv-save"},      {"a.mcs", "application/x-ps1-mcs-save"},
        {"A.PS1", "application/x-ps1-mcs-save"},  {"a.psx", "application/x-ps1-psx-save"},
        {"a.mcb", "application/x-ps1-psx-save"},  {"a.mcr", "application/x-ps1-memory-card"},
        {"a.mcd", "application/x-ps1-memory-card"}, {"a.pss", "application/x-ps1-memory-card"},
        {"a.gme", "application/x-ps1-gme-memory-card"},
        {"a.vgs", "application/x-ps1-vgs-memory-card"},
        {"a.vmp", "application/x-ps1-vmp-memory-card"}};
    for (const auto& [name, type] : by_name) QCOMPARE(type_of(name, zeros), type);
    QCOMPARE(type_of("card.ps2", ps2_card), QString("application/x-ps2-memory-card"));
    // By the first bytes, under names that say nothing.
    const QList<QPair<QByteArray, QString>> by_magic = {
        {QByteArray("Ps2PowerSave") + zeros, "application/x-ps2-max-save"},
        {QByteArray("CFU\0", 4) + zeros, "application/x-ps2-cbs-save"},
        {QByteArray("\x0d\0\0\0SharkPortSave", 17) + zeros, "application/x-ps2-sps-save"},
        {QByteArray("\0VSP", 4) + zeros, "application/x-psv-save"},
        {QByteArray("123-456-STD") + zeros, "application/x-ps1-gme-memory-card"},
        {QByteArray("VgsM") + zeros, "application/x-ps1-vgs-memory-card"},
        {QByteArray("\0PMV", 4) + zeros, "application/x-ps1-vmp-memory-card"}};
    int k = 0;
    for (const auto& [bytes, type] : by_magic)
      QCOMPARE(type_of(QString("unnamed%1").arg(k++), bytes), type);
    QCOMPARE(type_of("unnamed-card", ps2_card), QString("application/x-ps2-memory-card"));
    // Names that other programs' files carry stay theirs.
    QVERIFY(type_of("script.ps1", "Write-Host hello\n") != "application/x-ps1-mcs-save");
    QCOMPARE(type_of("picture.psd", QByteArray("8BPS") + zeros), QString("image/vnd.adobe.photoshop"));
    // Nothing of ours claims text.
    QCOMPARE(type_of("notes", "a plain line of text\n"), QString("text/plain"));
  }

  void DesktopEntryAndMetainfoOfferEveryTypeDefined() {
    const QString xml = ReadAll(Env("TRAVOSK_SOURCE") + "/data/travosk-mime.xml");
    const QString desktop = ReadAll(Env("TRAVOSK_SOURCE") + "/data/" + kAppId + ".desktop");
    const QString metainfo = ReadAll(Env("TRAVOSK_DATA") + "/" + kAppId + ".metainfo.xml");
    const QSet<QString> defined = Matches(xml, "<mime-type type=\"([^\"]+)\"");
    QCOMPARE(defined.size(), 12);
    const QRegularExpressionMatch line =
        QRegularExpression("\nMimeType=([^\n]*)\n").match(desktop);
    QVERIFY(line.hasMatch());
    QSet<QString> offered;
    for (const QString& t : line.captured(1).split(';', Qt::SkipEmptyParts)) offered.insert(t);
    QCOMPARE(offered, defined);
    QCOMPARE(Matches(metainfo, "<mediatype>([^<]+)</mediatype>"), defined);
  }

 private:
  QTemporaryDir db_;
};

QTEST_GUILESS_MAIN(MimeTypesTest)
#include "mimetypes_test.moc"
