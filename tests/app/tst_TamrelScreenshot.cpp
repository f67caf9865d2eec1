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

    // The balloon as the user sees it: pressed on the position tab (the hysteresis tab never
    // shown, so its button was never laid out), it must point at where that button really is
    // once its tab is shown, and lie wholly on the screen that shows the window, wherever the
    // window stands and however long the file's path is.
    void balloonPointsAtHysteresisButtonOnScreen_data() {
        QTest::addColumn<QString>("Place");
        QTest::addColumn<int>("FolderDepth");
        QTest::newRow("window centred") << QStringLiteral("centre") << 0;
        QTest::newRow("window at the right edge") << QStringLiteral("right") << 0;
        QTest::newRow("window at the left edge") << QStringLiteral("left") << 0;
        QTest::newRow("window at the top, path wider than the screen") << QStringLiteral("top") << 6;
    }
    void balloonPointsAtHysteresisButtonOnScreen() {
        QFETCH(QString, Place);
        QFETCH(int, FolderDepth);
        QTemporaryDir Dir;
        QString Folder = Dir.path();
        for (int i = 0; i < FolderDepth; ++i)
            Folder += QStringLiteral("/a_rather_long_folder_name_%1").arg(i);
        QVERIFY(QDir().mkpath(Folder));
        Form->SetScreenshotFolder(Folder);
        QScreen *Screen = Form->screen();
        QVERIFY(Screen);
        const QRect Avail = Screen->availableGeometry();
        const QRect Frame = Form->frameGeometry();
        if (Place == QLatin1String("right"))
            Form->move(Avail.right() + 1 - Frame.width(), Avail.top());
        else if (Place == QLatin1String("left"))
            Form->move(Avail.left(), Avail.top());
        else if (Place == QLatin1String("top"))
            Form->move(Form->x(), Avail.top());
        QCoreApplication::processEvents();
        QCOMPARE(Form->sPageControl1->currentWidget(), Form->sTabSheetChartPosition);

        Form->sSpeedButton1->click(); // the position tab's button
        QCOMPARE(QDir(Folder).entryList(QDir::Files).size(), 1);
        TBalloonHint *Balloon = Form->BalloonHintInd;
        QVERIFY(Balloon->isVisible());
        const QRect BalloonRect = Balloon->frameGeometry();
        const QPoint Tip = Balloon->TipAt();
        // The stem is drawn right up to its tip: a few pixels short of it lies the balloon's face.
        const QImage Face = Balloon->grab().toImage();
        const QPoint InStem = Tip - Balloon->pos() + QPoint(0, Tip.y() >= BalloonRect.center().y() ? -4 : 4);
        QCOMPARE(Face.pixelColor(InStem), Balloon->palette().color(QPalette::ToolTipBase));

        // Where the hysteresis tab's button is once the user opens that tab.
        Form->sPageControl1->setCurrentWidget(Form->sTabSheetChartHyst);
        QCoreApplication::processEvents();
        QToolButton *B = Form->ButtonSaveWindow;
        const QRect ButtonRect(B->mapToGlobal(QPoint(0, 0)), B->size());
        QVERIFY2(ButtonRect.contains(Tip), qPrintable(QStringLiteral("tip (%1, %2), button (%3, %4) %5 x %6")
                                                          .arg(Tip.x())
                                                          .arg(Tip.y())
                                                          .arg(ButtonRect.x())
                                                          .arg(ButtonRect.y())
                                                          .arg(ButtonRect.width())
                                                          .arg(ButtonRect.height())));
        // The balloon reaches the point it shows and stays on the window's screen whole.
        QVERIFY(BalloonRect.adjusted(-1, -1, 1, 1).contains(Tip));
        QVERIFY2(Screen->geometry().contains(BalloonRect),
                 qPrintable(QStringLiteral("balloon (%1, %2) %3 x %4 on a screen of %5 x %6")
                                .arg(BalloonRect.x())
                                .arg(BalloonRect.y())
                                .arg(BalloonRect.width())
                                .arg(BalloonRect.height())
                                .arg(Screen->geometry().width())
                                .arg(Screen->geometry().height())));
        // A path wider than the screen is wrapped onto more lines, not cut off.
        if (FolderDepth > 0) QVERIFY(BalloonRect.height() >= 3 * QFontMetrics(Balloon->font()).height());
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
