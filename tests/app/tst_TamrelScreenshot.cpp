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
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>

#include <memory>
#include <stdexcept>

class TestTamrelScreenshot : public QObject {
    Q_OBJECT

    std::unique_ptr<TFormTamrel> Form;

    // Colour type and bit depth straight from the PNG header.
    static void PngHeader(const QString &path, int &colourType, int &bitDepth) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray h = f.read(26);
        QCOMPARE(h.mid(12, 4), QByteArray("IHDR"));
        bitDepth = quint8(h[24]);
        colourType = quint8(h[25]);
    }

private slots:
    void init() {
        Form = std::make_unique<TFormTamrel>();
        Form->show();
        QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    }
    void cleanup() { Form.reset(); }

    void capturesChartArea_data() {
        QTest::addColumn<int>("tab");
        QTest::newRow("position tab") << 0;
        QTest::newRow("hysteresis tab") << 1;
    }
    void capturesChartArea() {
        QFETCH(int, tab);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        Form->SetScreenshotFolder(dir.path());
        Form->sPageControl1->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        const QString path = Form->ButtonSaveWindowClick();
        const QFileInfo info(path);
        QCOMPARE(info.absolutePath(), QDir(dir.path()).absolutePath());
        QVERIFY2(
            QRegularExpression(QStringLiteral("^Screenshot_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.png$"))
                .match(info.fileName())
                .hasMatch(),
            qPrintable(info.fileName()));
        QImageReader reader(path);
        const QImage img = reader.read();
        QVERIFY2(!img.isNull(), qPrintable(reader.errorString()));
        // Qt's reader hands a truecolour PNG out as 32-bit RGB; what matters is that there is no
        // alpha channel in the file (header below) and that the pixels are the window's.
        QVERIFY(!img.hasAlphaChannel());
        QCOMPARE(img.size(), Form->PanelChart->size());
        int colourType = -1, bitDepth = -1;
        PngHeader(path, colourType, bitDepth);
        QCOMPARE(colourType, 2);
        QCOMPARE(bitDepth, 8);
        // The capture is what the window shows there: the chart page itself.
        const QImage expected = Form->sPageControl1->grab().toImage().convertToFormat(QImage::Format_RGB888);
        QCOMPARE(img.convertToFormat(QImage::Format_RGB888), expected);
        // The balloon names the file, after a line break.
        QVERIFY(Form->BalloonHintInd->isVisible());
        QCOMPARE(Form->BalloonHintInd->Title(),
                 QStringLiteral("График сохранен: ") + QLatin1Char('\n') + QDir::toNativeSeparators(path));
    }

    // The balloon as the user sees it: pressed on the position tab (the hysteresis tab never
    // shown, so its button was never laid out), it must point at where that button really is
    // once its tab is shown, and lie wholly on the screen that shows the window, wherever the
    // window stands and however long the file's path is.
    void balloonPointsAtHysteresisButtonOnScreen_data() {
        QTest::addColumn<QString>("place");
        QTest::addColumn<int>("folderDepth");
        QTest::newRow("window centred") << QStringLiteral("centre") << 0;
        QTest::newRow("window at the right edge") << QStringLiteral("right") << 0;
        QTest::newRow("window at the left edge") << QStringLiteral("left") << 0;
        QTest::newRow("window at the top, path wider than the screen") << QStringLiteral("top") << 6;
    }
    void balloonPointsAtHysteresisButtonOnScreen() {
        QFETCH(QString, place);
        QFETCH(int, folderDepth);
        QTemporaryDir dir;
        QString folder = dir.path();
        for (int i = 0; i < folderDepth; ++i)
            folder += QStringLiteral("/a_rather_long_folder_name_%1").arg(i);
        QVERIFY(QDir().mkpath(folder));
        Form->SetScreenshotFolder(folder);
        QScreen *screen = Form->screen();
        QVERIFY(screen);
        const QRect avail = screen->availableGeometry();
        const QRect frame = Form->frameGeometry();
        if (place == QLatin1String("right"))
            Form->move(avail.right() + 1 - frame.width(), avail.top());
        else if (place == QLatin1String("left"))
            Form->move(avail.left(), avail.top());
        else if (place == QLatin1String("top"))
            Form->move(Form->x(), avail.top());
        QCoreApplication::processEvents();
        QCOMPARE(Form->sPageControl1->currentWidget(), Form->sTabSheetChartPosition);

        Form->sSpeedButton1->click(); // the position tab's button
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 1);
        TBalloonHint *balloon = Form->BalloonHintInd;
        QVERIFY(balloon->isVisible());
        const QRect balloonRect = balloon->frameGeometry();
        const QPoint tip = balloon->TipAt();
        // The stem is drawn right up to its tip: a few pixels short of it lies the balloon's face.
        const QImage face = balloon->grab().toImage();
        const QPoint inStem = tip - balloon->pos() + QPoint(0, tip.y() >= balloonRect.center().y() ? -4 : 4);
        QCOMPARE(face.pixelColor(inStem), balloon->palette().color(QPalette::ToolTipBase));

        // Where the hysteresis tab's button is once the user opens that tab.
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        QCoreApplication::processEvents();
        QToolButton *b = Form->ButtonSaveWindow;
        const QRect buttonRect(b->mapToGlobal(QPoint(0, 0)), b->size());
        QVERIFY2(buttonRect.contains(tip), qPrintable(QStringLiteral("tip (%1, %2), button (%3, %4) %5 x %6")
                                                          .arg(tip.x())
                                                          .arg(tip.y())
                                                          .arg(buttonRect.x())
                                                          .arg(buttonRect.y())
                                                          .arg(buttonRect.width())
                                                          .arg(buttonRect.height())));
        // The balloon reaches the point it shows and stays on the window's screen whole.
        QVERIFY(balloonRect.adjusted(-1, -1, 1, 1).contains(tip));
        QVERIFY2(screen->geometry().contains(balloonRect),
                 qPrintable(QStringLiteral("balloon (%1, %2) %3 x %4 on a screen of %5 x %6")
                                .arg(balloonRect.x())
                                .arg(balloonRect.y())
                                .arg(balloonRect.width())
                                .arg(balloonRect.height())
                                .arg(screen->geometry().width())
                                .arg(screen->geometry().height())));
        // A path wider than the screen is wrapped onto more lines, not cut off.
        if (folderDepth > 0) QVERIFY(balloonRect.height() >= 3 * QFontMetrics(balloon->font()).height());
    }

    void twoInOneSecondReplaceEachOther() {
        QTemporaryDir dir;
        Form->SetScreenshotFolder(dir.path());
        // Both captures within one wall-clock second: retry if a second boundary fell between.
        QString first, second;
        for (int attempt = 0; attempt < 5; ++attempt) {
            first = Form->ButtonSaveWindowClick();
            Form->sPageControl1->setCurrentIndex(1);
            QCoreApplication::processEvents();
            second = Form->ButtonSaveWindowClick();
            if (first == second) break;
            QFile::remove(first);
            QFile::remove(second);
        }
        QCOMPARE(first, second);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 1);
        QCOMPARE(QImage(second).convertToFormat(QImage::Format_RGB888),
                 Form->sPageControl1->grab().toImage().convertToFormat(QImage::Format_RGB888));
    }

    void unwritableFolderGivesErrorAndNoBalloon() {
        QTemporaryDir dir;
        const QString missing = dir.path() + QStringLiteral("/no/such/folder");
        Form->SetScreenshotFolder(missing);
        QVERIFY(!Form->BalloonHintInd->isVisible());
        try {
            Form->ButtonSaveWindowClick();
            QFAIL("no error for a folder that does not exist");
        } catch (const std::runtime_error &e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QStringLiteral("Cannot save the screenshot")),
                     e.what());
        }
        QVERIFY(!Form->BalloonHintInd->isVisible());
        QVERIFY(!QDir(missing).exists());
    }
};

TAMREL_TEST_MAIN(TestTamrelScreenshot)
#include "tst_TamrelScreenshot.moc"
