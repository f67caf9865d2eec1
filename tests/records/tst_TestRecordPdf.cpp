// The PDF report: a valid one-page document titled with the head's serial number, and a page
// that shows the loop, the maximum hysteresis and the verdict in its colour.
#include "TestMain.h"
#include "uPdfTestSupport.h"
#include "uRecordTestSupport.h"
#include "uTestRecordExportFile.h"
#include "uTestRecordPdf.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

namespace {

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
    void longSerialFits_data();
    void longSerialFits();
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

void TestTestRecordPdf::longSerialFits_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("shrunk");
    QTest::addColumn<bool>("whole"); // every character shown, or the third line ends in "…"
    QTest::newRow("short: one line, largest size") << 12 << false << true;
    QTest::newRow("long: smaller") << 60 << true << true;
    QTest::newRow("longer: wrapped") << 100 << true << true;
    QTest::newRow("thousands: three lines, the rest cut with …") << 3000 << true << false;
}

void TestTestRecordPdf::longSerialFits() {
    QFETCH(int, length);
    QFETCH(bool, shrunk);
    QFETCH(bool, whole);
    QString serial;
    for (int i = 0; i < length; ++i)
        serial += QChar(u'A' + i % 26);
    QFont font;
    font.setBold(true);
    const double width = 1000;
    const TFittedText fitted = FitText(serial, font, width, 40, 25, 3);
    QCOMPARE(fitted.PixelSize < 40, shrunk);
    QVERIFY(fitted.PixelSize >= 25);
    QVERIFY(fitted.Lines.size() >= 1 && fitted.Lines.size() <= 3);
    font.setPixelSize(fitted.PixelSize);
    for (const QString &line : fitted.Lines)
        QVERIFY2(QFontMetricsF(font).horizontalAdvance(line) <= width, qPrintable(line));
    if (whole)
        QCOMPARE(fitted.Lines.join(QString()), serial);
    else
        QVERIFY(fitted.Lines.size() == 3 && fitted.Lines.last().endsWith(QChar(0x2026)));
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
