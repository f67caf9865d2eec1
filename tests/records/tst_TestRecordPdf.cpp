// The PDF report: a valid one-page document titled with the head's serial number, and a page
// that shows the loop, the maximum hysteresis and the verdict in its colour.
#include "TestMain.h"
#include "uRecordTestSupport.h"
#include "uTestRecordExportFile.h"
#include "uTestRecordPdf.h"

#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

namespace {

// The document's /Title: a PDF literal string, backslash escapes, UTF-16BE after a byte-order
// mark (or plain bytes without one).
QString PdfTitle(const QByteArray &pdf) {
    const QByteArray key = "/Title (";
    const qsizetype start = pdf.indexOf(key);
    if (start < 0) return {};
    QByteArray bytes;
    int depth = 0;
    for (qsizetype i = start + key.size(); i < pdf.size(); ++i) {
        const char c = pdf[i];
        if (c == '\\' && i + 1 < pdf.size()) {
            const char next = pdf[++i];
            bytes += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
        } else if (c == '(') {
            ++depth;
            bytes += c;
        } else if (c == ')') {
            if (depth-- == 0) break;
            bytes += c;
        } else {
            bytes += c;
        }
    }
    if (!bytes.startsWith("\xFE\xFF")) return QString::fromLatin1(bytes);
    QString text;
    for (qsizetype i = 2; i + 1 < bytes.size(); i += 2)
        text += QChar(char16_t((uchar(bytes[i]) << 8) | uchar(bytes[i + 1])));
    return text;
}

// Page objects: "/Type /Page" not followed by "s" (which is the page tree).
int PageCount(const QByteArray &pdf) {
    int count = 0;
    for (qsizetype at = pdf.indexOf("/Type /Page"); at >= 0; at = pdf.indexOf("/Type /Page", at + 1)) {
        const qsizetype after = at + 11;
        if (after >= pdf.size() || pdf[after] != 's') ++count;
    }
    return count;
}

void CheckPdf(const QByteArray &pdf, const QString &serial) {
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    QCOMPARE(PageCount(pdf), 1);
    QVERIFY(pdf.contains("/Count 1"));
    const QString title = PdfTitle(pdf);
    QVERIFY2(title.contains(QString(serial).replace(u'\n', u' ')), qPrintable(title));
}

int PixelsOf(const QImage &image, const QColor &colour) {
    const QRgb wanted = colour.rgb();
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += line[x] == wanted ? 1 : 0;
    }
    return count;
}

QImage Rendered(const TTestRecord &record) {
    QImage image(900, 1335, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    PaintTestRecordReport(painter, QRectF(0, 0, image.width(), image.height()), record);
    painter.end();
    return image;
}

TTestRecord Passing() {
    TTestRecord record = FullTestRecord(QStringLiteral("SN (7) \\ A"));
    record.Limits = {0.25, 30.0, 0.5};
    record.Evaluate();
    return record;
}

TTestRecord WithoutLimits() {
    TTestRecord record = FullTestRecord(QStringLiteral("NL-1"));
    record.Limits = {};
    record.Evaluate();
    return record;
}

TTestRecord StoppedEarly() {
    TTestRecord record = FullTestRecord(QStringLiteral("E-2"));
    record.Points.resize(2);
    record.Evaluate();
    return record;
}

} // namespace

class TestTestRecordPdf : public QObject {
    Q_OBJECT
private slots:
    void document_data();
    void document();
    void savedToFile();
    void page_data();
    void page();
};

void TestTestRecordPdf::document_data() {
    QTest::addColumn<TTestRecord>("record");
    QTest::newRow("failed, Cyrillic serial with a line break") << FullTestRecord();
    QTest::newRow("passed, parentheses and a backslash") << Passing();
    QTest::newRow("no limits") << WithoutLimits();
    QTest::newRow("stopped early") << StoppedEarly();
    QTest::newRow("no points") << [] {
        TTestRecord record = FullTestRecord(QStringLiteral("EMPTY"));
        record.Points.clear();
        record.Evaluate();
        return record;
    }();
}

void TestTestRecordPdf::document() {
    QFETCH(TTestRecord, record);
    CheckPdf(TestRecordPdf(record), record.HeadSerial);
}

void TestTestRecordPdf::savedToFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const TTestRecord record = Passing();
    const QString path = dir.filePath(QStringLiteral("report.pdf"));
    SaveTestRecordPdf(record, path);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    CheckPdf(file.readAll(), record.HeadSerial);
    QVERIFY_THROWS_EXCEPTION(ETestRecordExport,
                             SaveTestRecordPdf(record, dir.filePath("report.pdf/inside.pdf")));
}

void TestTestRecordPdf::page_data() {
    QTest::addColumn<TTestRecord>("record");
    QTest::addColumn<QColor>("verdictColour");
    QTest::addColumn<bool>("marked"); // the maximum hysteresis is drawn
    QTest::newRow("fail") << FullTestRecord() << TestReportColors::Fail << true;
    QTest::newRow("pass") << Passing() << TestReportColors::Pass << true;
    QTest::newRow("no limits") << WithoutLimits() << TestReportColors::NoVerdict << true;
    QTest::newRow("stopped early") << StoppedEarly() << TestReportColors::Fail << false;
}

void TestTestRecordPdf::page() {
    QFETCH(TTestRecord, record);
    QFETCH(QColor, verdictColour);
    QFETCH(bool, marked);
    const QImage image = Rendered(record);
    // The verdict's box (45 x 14 of 180 page units: about 9000 pixels here) in its colour only.
    for (const QColor &colour :
         {TestReportColors::Pass, TestReportColors::Fail, TestReportColors::NoVerdict}) {
        const int pixels = PixelsOf(image, colour);
        if (colour == verdictColour)
            QVERIFY2(pixels > 5000, qPrintable(QString::number(pixels)));
        else
            QVERIFY2(pixels < 500, qPrintable(colour.name() + ": " + QString::number(pixels)));
    }
    QVERIFY(PixelsOf(image, TestReportColors::Rising) > 200);
    QCOMPARE(PixelsOf(image, TestReportColors::Falling) > 200, record.Figures.Available() || marked);
    // The legend shows the marker's colour too; the marker itself adds to it.
    const int markerPixels = PixelsOf(image, TestReportColors::MaxHysteresis);
    const int legendOnly = PixelsOf(Rendered(StoppedEarly()), TestReportColors::MaxHysteresis);
    if (marked)
        QVERIFY2(markerPixels > legendOnly + 50, qPrintable(QString::number(markerPixels)));
    else
        QCOMPARE(markerPixels, legendOnly);
}

TAMREL_TEST_MAIN(TestTestRecordPdf)
#include "tst_TestRecordPdf.moc"
