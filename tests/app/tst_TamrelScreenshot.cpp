// Chart screenshots: the file's name, place and PNG format, replacement within one second,
// and a folder that cannot be written.
#include "TestMain.h"
#include "uBalloonHint.h"
#include "uFormTamrel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <memory>
#include <stdexcept>

class TestTamrelScreenshot : public QObject {
    Q_OBJECT

    std::unique_ptr<TFormTamrel> Form;

    // Colour type and bit depth straight from the PNG header.
    static void PngHeader(const QString &Path, int &ColourType, int &BitDepth) {
        QFile F(Path);
        QVERIFY(F.open(QIODevice::ReadOnly));
        const QByteArray H = F.read(26);
        QCOMPARE(H.mid(12, 4), QByteArray("IHDR"));
        BitDepth = quint8(H[24]);
        ColourType = quint8(H[25]);
    }

private slots:
    void init() {
        Form = std::make_unique<TFormTamrel>();
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    }
    void cleanup() { Form.reset(); }

    void capturesChartArea_data() {
        QTest::addColumn<int>("Tab");
        QTest::newRow("position tab") << 0;
        QTest::newRow("hysteresis tab") << 1;
    }
    void capturesChartArea() {
        QFETCH(int, Tab);
        QTemporaryDir Dir;
        QVERIFY(Dir.isValid());
        Form->SetScreenshotFolder(Dir.path());
        Form->sPageControl1->setCurrentIndex(Tab);
        QCoreApplication::processEvents();
        const QString Path = Form->ButtonSaveWindowClick();
        const QFileInfo Info(Path);
        QCOMPARE(Info.absolutePath(), QDir(Dir.path()).absolutePath());
        QVERIFY2(
            QRegularExpression(QStringLiteral("^Screenshot_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.png$"))
                .match(Info.fileName())
                .hasMatch(),
            qPrintable(Info.fileName()));
        QImageReader Reader(Path);
        const QImage Img = Reader.read();
        QVERIFY2(!Img.isNull(), qPrintable(Reader.errorString()));
        // Qt's reader hands a truecolour PNG out as 32-bit RGB; what matters is that there is no
        // alpha channel in the file (header below) and that the pixels are the window's.
        QVERIFY(!Img.hasAlphaChannel());
        QCOMPARE(Img.size(), Form->PanelChart->size());
        int ColourType = -1, BitDepth = -1;
        PngHeader(Path, ColourType, BitDepth);
        QCOMPARE(ColourType, 2);
        QCOMPARE(BitDepth, 8);
        // The capture is what the window shows there: the chart page itself.
        const QImage Expected = Form->sPageControl1->grab().toImage().convertToFormat(QImage::Format_RGB888);
        QCOMPARE(Img.convertToFormat(QImage::Format_RGB888), Expected);
        // The balloon names the file, after a line break.
        QVERIFY(Form->BalloonHintInd->isVisible());
        QCOMPARE(Form->BalloonHintInd->Title(),
                 QStringLiteral("График сохранен: ") + QLatin1Char('\n') + QDir::toNativeSeparators(Path));
    }

    void balloonPointsAtHysteresisButton() {
        QTemporaryDir Dir;
        Form->SetScreenshotFolder(Dir.path());
        Form->sPageControl1->setCurrentIndex(0);
        QCoreApplication::processEvents();
        Form->sSpeedButton1->click(); // the position tab's button
        QCOMPARE(QDir(Dir.path()).entryList(QDir::Files).size(), 1);
        QVERIFY(Form->BalloonHintInd->isVisible());
        QToolButton *B = Form->ButtonSaveWindow;
        QCOMPARE(Form->BalloonHintInd->ShownAt(), B->mapToGlobal(QPoint(B->width() / 2, B->height() - 20)));
    }

    void twoInOneSecondReplaceEachOther() {
        QTemporaryDir Dir;
        Form->SetScreenshotFolder(Dir.path());
        // Both captures within one wall-clock second: retry if a second boundary fell between.
        QString First, Second;
        for (int Try = 0; Try < 5; ++Try) {
            First = Form->ButtonSaveWindowClick();
            Form->sPageControl1->setCurrentIndex(1);
            QCoreApplication::processEvents();
            Second = Form->ButtonSaveWindowClick();
            if (First == Second) break;
            QFile::remove(First);
            QFile::remove(Second);
        }
        QCOMPARE(First, Second);
        QCOMPARE(QDir(Dir.path()).entryList(QDir::Files).size(), 1);
        QCOMPARE(QImage(Second).convertToFormat(QImage::Format_RGB888),
                 Form->sPageControl1->grab().toImage().convertToFormat(QImage::Format_RGB888));
    }

    void unwritableFolderGivesErrorAndNoBalloon() {
        QTemporaryDir Dir;
        const QString Missing = Dir.path() + QStringLiteral("/no/such/folder");
        Form->SetScreenshotFolder(Missing);
        QVERIFY(!Form->BalloonHintInd->isVisible());
        try {
            Form->ButtonSaveWindowClick();
            QFAIL("no error for a folder that does not exist");
        } catch (const std::runtime_error &E) {
            QVERIFY2(QString::fromUtf8(E.what()).contains(QStringLiteral("Cannot save the screenshot")),
                     E.what());
        }
        QVERIFY(!Form->BalloonHintInd->isVisible());
        QVERIFY(!QDir(Missing).exists());
    }
};

TAMREL_TEST_MAIN(TestTamrelScreenshot)
#include "tst_TamrelScreenshot.moc"
