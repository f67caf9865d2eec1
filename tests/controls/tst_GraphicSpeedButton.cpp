// The image button driven with real mouse and key events on an offscreen window, its layout
// arithmetic, and what it shows (grabbed pixels). With TAMREL_GRAB_DIR set, the grabbed faces are
// also written there as PNG files for a look by eye.
#include "CompGraphicSpeedButton.h"
#include "TestMain.h"

#include <QAction>
#include <QPainter>
#include <QTemporaryDir>
#include <memory>

namespace {
const QColor kUpColour(255, 0, 0);
const QColor kDownColour(0, 0, 255);
const QColor kDisabledColour(0, 160, 0);

QPixmap Square(const QColor &colour, int size = 16) {
    QPixmap pm(size, size);
    pm.fill(colour);
    return pm;
}

// Bounding box of the pixels of exactly this colour; empty when there are none.
QRect Find(const QImage &image, const QColor &colour) {
    QRect box;
    const QRgb want = colour.rgb();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (want & 0xFFFFFF)) box |= QRect(x, y, 1, 1);
    return box;
}

// Bounding box of the pixels close to a colour (anti-aliased text).
QRect FindNear(const QImage &image, const QColor &colour, int tolerance) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - colour.red()) <= tolerance &&
                std::abs(c.green() - colour.green()) <= tolerance &&
                std::abs(c.blue() - colour.blue()) <= tolerance)
                box |= QRect(x, y, 1, 1);
        }
    return box;
}
} // namespace

class tst_GraphicSpeedButton : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> FForm;

    TGraphicSpeedButton *NewButton(const QString &caption, QRect geometry, int group = 0) {
        auto *b = new TGraphicSpeedButton(FForm.get());
        b->SetCaption(caption);
        b->setGeometry(geometry);
        b->SetGroupIndex(group);
        b->SetGlyphUp(Square(kUpColour));
        b->SetGlyphDown(Square(kDownColour));
        b->show();
        return b;
    }
    static void Click(TGraphicSpeedButton *b) {
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    }
    static QImage Grab(QWidget *w, const QString &name) {
        const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QByteArray dir = qgetenv("TAMREL_GRAB_DIR");
        if (!dir.isEmpty())
            image.scaled(image.size() * 4, Qt::KeepAspectRatio, Qt::FastTransformation)
                .save(QString::fromLocal8Bit(dir) + "/button_" + name + ".png");
        return image;
    }

private slots:
    void init() {
        TGraphicSpeedButton::SetThemesEnabled(true);
        FForm = std::make_unique<QWidget>();
        FForm->resize(400, 300);
        FForm->show();
        FForm->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(FForm.get()));
    }
    void cleanup() {
        FForm.reset();
        TGraphicSpeedButton::SetThemesEnabled(true);
    }

    void defaults() {
        TGraphicSpeedButton b;
        QCOMPARE(b.size(), QSize(22, 23));
        QCOMPARE(b.GroupIndex(), 0);
        QVERIFY(!b.Down());
        QVERIFY(!b.AllowAllUp());
        QCOMPARE(b.Layout(), blGlyphLeft);
        QCOMPARE(b.Margin(), -1);
        QCOMPARE(b.Spacing(), 4);
        QVERIFY(b.Transparent());
        QVERIFY(!b.Flat());
        QVERIFY(b.Caption().isEmpty());
        QVERIFY(b.isEnabled());
        QVERIFY(b.GlyphUp().isNull() && b.GlyphDown().isNull() && b.GlyphDisabled().isNull());
        QCOMPARE(b.Action(), nullptr);
        QCOMPARE(b.State(), bsUp);
    }

    void ordinaryButtonPressAndRelease() {
        auto *b = NewButton("Открыть из файла", QRect(10, 10, 160, 30));
        QSignalSpy clicks(b, &QAbstractButton::clicked);
        b->SetDown(true);
        QVERIFY(!b->Down());
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(b->State(), bsDown);
        QVERIFY(b->Dragging());
        // Merely pressed, the up picture shows.
        QCOMPARE(b->Glyph().cacheKey(), b->GlyphUp().cacheKey());
        QCOMPARE(clicks.count(), 0);
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(b->State(), bsUp);
        QVERIFY(!b->Down());
        QCOMPARE(clicks.count(), 1);
    }

    void releaseOutside_data() {
        QTest::addColumn<int>("group");
        QTest::addColumn<bool>("moveFirst");
        QTest::newRow("ordinary, dragged out") << 0 << true;
        QTest::newRow("ordinary, released out") << 0 << false;
        QTest::newRow("grouped, dragged out") << 1 << true;
        QTest::newRow("grouped, released out") << 1 << false;
    }
    void releaseOutside() {
        QFETCH(int, group);
        QFETCH(bool, moveFirst);
        auto *b = NewButton("Caption", QRect(10, 10, 100, 30), group);
        QSignalSpy clicks(b, &QAbstractButton::clicked);
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
        const QPoint outside(b->width() + 20, 5);
        if (moveFirst) {
            QTest::mouseMove(b, outside);
            QCOMPARE(b->State(), bsUp);
            QTest::mouseMove(b, QPoint(6, 6));
            QCOMPARE(b->State(), bsDown);
            QTest::mouseMove(b, outside);
        }
        QTest::mouseRelease(b, Qt::LeftButton, {}, outside);
        QCOMPARE(clicks.count(), 0);
        QVERIFY(!b->Down());
        QCOMPARE(b->State(), bsUp);
        QVERIFY(!b->Dragging());
    }

    void groupExclusivity() {
        auto *a = NewButton("A", QRect(0, 0, 60, 30), 1);
        auto *b = NewButton("B", QRect(60, 0, 60, 30), 1);
        auto *other = NewButton("Other group", QRect(120, 0, 60, 30), 2);
        QWidget elsewhere(FForm.get());
        auto *stranger = new TGraphicSpeedButton(&elsewhere); // same group, other parent
        stranger->SetGroupIndex(1);
        stranger->SetDown(true);
        other->SetDown(true);
        QSignalSpy clicksB(b, &QAbstractButton::clicked);

        Click(a);
        QVERIFY(a->Down());
        QCOMPARE(a->State(), bsExclusive);
        QCOMPARE(a->Glyph().cacheKey(), a->GlyphDown().cacheKey());
        Click(b);
        QVERIFY(b->Down());
        QVERIFY(!a->Down());
        QCOMPARE(a->State(), bsUp);
        // Without AllowAllUp the down button cannot be released by clicking it again.
        Click(b);
        QVERIFY(b->Down());
        QCOMPARE(b->State(), bsExclusive);
        QCOMPARE(clicksB.count(), 2);
        b->SetDown(false);
        QVERIFY(b->Down());
        // Other groups and other parents are left alone.
        QVERIFY(other->Down());
        QVERIFY(stranger->Down());

        // AllowAllUp set on one member reaches the whole group.
        a->SetAllowAllUp(true);
        QVERIFY(b->AllowAllUp());
        QVERIFY(!other->AllowAllUp());
        Click(b);
        QVERIFY(!b->Down());
        QVERIFY(!a->Down());
        QCOMPARE(b->State(), bsUp);
    }

    void downPressedAgainKeepsLatchedFace() {
        auto *b = NewButton("B", QRect(0, 0, 60, 30), 1);
        b->SetDown(true);
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseMove(b, QPoint(200, 5));
        QCOMPARE(b->State(), bsExclusive);
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(200, 5));
        QVERIFY(b->Down());
        QCOMPARE(b->State(), bsExclusive);
    }

    void doubleClick() {
        auto *plain = NewButton("Plain", QRect(0, 0, 60, 30));
        auto *latched = NewButton("Latched", QRect(0, 40, 60, 30), 3);
        latched->SetDown(true);
        QSignalSpy plainDbl(plain, &TGraphicSpeedButton::DblClick);
        QSignalSpy latchedDbl(latched, &TGraphicSpeedButton::DblClick);
        QSignalSpy plainClicks(plain, &QAbstractButton::clicked);
        // What a double click delivers: press, release, double click, release.
        for (TGraphicSpeedButton *b : {plain, latched}) {
            QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(5, 5));
            QTest::mouseDClick(b, Qt::LeftButton, {}, QPoint(5, 5));
            QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));
        }
        QCOMPARE(plainDbl.count(), 0);
        QCOMPARE(latchedDbl.count(), 1);
        QCOMPARE(plainClicks.count(), 2);
    }

    void enabledState() {
        auto *b = NewButton("B", QRect(0, 0, 60, 30), 1);
        b->SetDown(true);
        b->setEnabled(false);
        QCOMPARE(b->State(), bsDisabled);
        QVERIFY(b->Glyph().isNull()); // no disabled picture, no grey one made up
        b->SetGlyphDisabled(Square(kDisabledColour));
        QCOMPARE(b->Glyph().cacheKey(), b->GlyphDisabled().cacheKey());
        b->setEnabled(true);
        QCOMPARE(b->State(), bsExclusive);
        auto *plain = NewButton("P", QRect(0, 40, 60, 30));
        plain->setEnabled(false);
        plain->setEnabled(true);
        QCOMPARE(plain->State(), bsUp);
    }

    void layoutArithmetic_data() {
        QTest::addColumn<QRect>("client");
        QTest::addColumn<QPoint>("offset");
        QTest::addColumn<QSize>("glyph");
        QTest::addColumn<QSize>("text");
        QTest::addColumn<int>("layout");
        QTest::addColumn<int>("margin");
        QTest::addColumn<int>("spacing");
        QTest::addColumn<bool>("offsetCaption");
        QTest::addColumn<QPoint>("glyphPos");
        QTest::addColumn<QPoint>("textPos");
        const QRect c(0, 0, 100, 20);
        const QSize g(16, 16), t(30, 13);
        // Picture and caption centred as one block: 25 + 16 + 4 + 30 + 25.
        QTest::newRow("left, centred block") << c << QPoint() << g << t << int(blGlyphLeft) << -1 << 4
                                             << false << QPoint(25, 2) << QPoint(45, 4);
        QTest::newRow("right, centred block") << c << QPoint() << g << t << int(blGlyphRight) << -1 << 4
                                              << false << QPoint(59, 2) << QPoint(25, 4);
        QTest::newRow("even spacing") << c << QPoint() << g << t << int(blGlyphLeft) << -1 << -1 << false
                                      << QPoint(18, 2) << QPoint(52, 4);
        QTest::newRow("given margin, computed spacing") << c << QPoint() << g << t << int(blGlyphLeft) << 3
                                                        << -1 << false << QPoint(3, 2) << QPoint(44, 4);
        QTest::newRow("given margin and spacing") << c << QPoint() << g << t << int(blGlyphRight) << 3 << 2
                                                  << false << QPoint(81, 2) << QPoint(49, 4);
        QTest::newRow("no caption: no spacing") << c << QPoint() << g << QSize(0, 0) << int(blGlyphLeft) << -1
                                                << 4 << false << QPoint(42, 2) << QPoint(58, 10);
        QTest::newRow("no picture: caption centred") << c << QPoint() << QSize(0, 0) << t << int(blGlyphLeft)
                                                     << -1 << 4 << false << QPoint(35, 10) << QPoint(35, 4);
        const QRect tall(0, 0, 40, 60);
        QTest::newRow("top") << tall << QPoint() << g << t << int(blGlyphTop) << -1 << 4 << false
                             << QPoint(12, 14) << QPoint(5, 34);
        QTest::newRow("bottom") << tall << QPoint() << g << t << int(blGlyphBottom) << -1 << 4 << false
                                << QPoint(12, 30) << QPoint(5, 13);
        const QRect moved(2, 3, 100, 20);
        QTest::newRow("themed: offset moves the picture only")
            << moved << QPoint(1, 0) << g << t << int(blGlyphLeft) << -1 << 4 << false << QPoint(28, 5)
            << QPoint(47, 7);
        QTest::newRow("classic: offset moves both") << moved << QPoint(1, 1) << g << t << int(blGlyphLeft)
                                                    << -1 << 4 << true << QPoint(28, 6) << QPoint(48, 8);
    }
    void layoutArithmetic() {
        QFETCH(QRect, client);
        QFETCH(QPoint, offset);
        QFETCH(QSize, glyph);
        QFETCH(QSize, text);
        QFETCH(int, layout);
        QFETCH(int, margin);
        QFETCH(int, spacing);
        QFETCH(bool, offsetCaption);
        QFETCH(QPoint, glyphPos);
        QFETCH(QPoint, textPos);
        const TButtonLayoutResult r = CalcButtonLayout(client, offset, glyph, text, TButtonLayout(layout),
                                                       margin, spacing, offsetCaption);
        QCOMPARE(r.GlyphPos, glyphPos);
        QCOMPARE(r.TextBounds, QRect(textPos, text));
    }

    void shownBlockIsCentred_data() {
        QTest::addColumn<bool>("themes");
        QTest::addColumn<bool>("flat");
        QTest::newRow("themed push button") << true << false;
        QTest::newRow("themed flat") << true << true;
        QTest::newRow("classic push button") << false << false;
        QTest::newRow("classic flat") << false << true;
    }
    void shownBlockIsCentred() {
        QFETCH(bool, themes);
        QFETCH(bool, flat);
        TGraphicSpeedButton::SetThemesEnabled(themes);
        auto *b = NewButton("Caption", QRect(10, 10, 140, 30));
        b->SetFlat(flat);
        QPalette pal = b->palette();
        pal.setColor(QPalette::ButtonText, Qt::black);
        b->setPalette(pal);
        const QImage image = Grab(b, QString("centred_%1_%2").arg(themes).arg(flat));
        const QRect glyph = Find(image, kUpColour);
        QCOMPARE(glyph.size(), QSize(16, 16));
        QCOMPARE(glyph.topLeft(), b->CurrentLayout().GlyphPos);
        const QRect caption = FindNear(image, Qt::black, 90);
        QVERIFY(!caption.isEmpty());
        QVERIFY2(b->CurrentLayout().TextBounds.adjusted(-1, -1, 1, 1).contains(caption),
                 "caption outside its bounds");
        // The caption follows the picture after the spacing, and the block is centred.
        QVERIFY(caption.left() >= glyph.right() + 1 + 4);
        const QRect content = b->ContentRect();
        const int leftGap = glyph.left() - content.left();
        const int rightGap = content.right() - b->CurrentLayout().TextBounds.right();
        QVERIFY2(std::abs(leftGap - rightGap) <= 1,
                 qPrintable(QString("%1 / %2").arg(leftGap).arg(rightGap)));
    }

    void picturesDrawnSharp_data() {
        QTest::addColumn<QString>("format");
        QTest::newRow("PNG with transparency") << "PNG";
        QTest::newRow("32-bit bitmap") << "BMP";
    }
    void picturesDrawnSharp() {
        // A one-pixel checkerboard read from a file comes out pixel for pixel: any scaling or
        // sub-pixel placement would blur it.
        QFETCH(QString, format);
        QImage source(16, 16, QImage::Format_ARGB32);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                source.setPixel(x, y, (x + y) % 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        // A transparent corner: the face shows through it.
        source.setPixel(0, 0, qRgba(0, 0, 0, 0));
        QTemporaryDir dir;
        const QString file = dir.filePath("glyph." + format.toLower());
        QVERIFY(source.save(file, qPrintable(format)));
        auto *b = NewButton("Checker", QRect(10, 10, 140, 30));
        QPixmap loaded(file);
        QVERIFY(!loaded.isNull());
        b->SetGlyphUp(loaded);
        const QImage image = Grab(b, "sharp_" + format.toLower());
        const QPoint at = b->CurrentLayout().GlyphPos;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                if (x == 0 && y == 0) continue;
                QCOMPARE(image.pixel(at + QPoint(x, y)) & 0xFFFFFF, source.pixel(x, y) & 0xFFFFFF);
            }
        if (format == "PNG") QVERIFY((image.pixel(at) & 0xFFFFFF) != 0);
    }

    void rightToLeftMirrorsLeftAndRight() {
        auto *b = NewButton("Caption", QRect(10, 10, 140, 30));
        b->setLayoutDirection(Qt::RightToLeft);
        const TButtonLayoutResult r = b->CurrentLayout();
        QVERIFY(r.GlyphPos.x() > r.TextBounds.right());
        const QRect glyph = Find(Grab(b, "rtl"), kUpColour);
        QCOMPARE(glyph.topLeft(), r.GlyphPos);
        b->SetLayout(blGlyphRight);
        QVERIFY(b->CurrentLayout().GlyphPos.x() < b->CurrentLayout().TextBounds.left());
    }

    void marginBelowMinusOneIgnored() {
        TGraphicSpeedButton b;
        b.SetMargin(5);
        b.SetMargin(-2);
        QCOMPARE(b.Margin(), 5);
        b.SetMargin(-1);
        QCOMPARE(b.Margin(), -1);
    }

    void singleSpaceCaptionCountsAsNone() {
        auto *b = NewButton(" ", QRect(10, 10, 100, 30));
        const QRect content = b->ContentRect();
        QCOMPARE(b->CurrentLayout().GlyphPos.x(), content.left() + (content.width() - 16 + 1) / 2);
        QCOMPARE(b->CurrentLayout().TextBounds.size(), QSize(0, 0));
    }

    void disabledWithoutPictureShowsEmbossedCaption() {
        auto *b = NewButton("Проверить", QRect(10, 10, 140, 30));
        QPalette pal = b->palette();
        pal.setColor(QPalette::Light, QColor(255, 255, 0));
        pal.setColor(QPalette::Dark, QColor(0, 0, 128));
        b->setPalette(pal);
        b->setEnabled(false);
        const QImage image = Grab(b, "disabled_no_picture");
        QVERIFY(Find(image, kUpColour).isEmpty());
        QVERIFY(Find(image, kDownColour).isEmpty());
        const QRect highlight = FindNear(image, QColor(255, 255, 0), 40);
        const QRect shadow = FindNear(image, QColor(0, 0, 128), 40);
        QVERIFY(!highlight.isEmpty());
        QVERIFY(!shadow.isEmpty());
        // The highlight copy lies one pixel down and to the right of the shadow copy.
        QCOMPARE(highlight.bottomRight(), shadow.bottomRight() + QPoint(1, 1));
        b->SetGlyphDisabled(Square(kDisabledColour));
        QCOMPARE(Find(Grab(b, "disabled_picture"), kDisabledColour).size(), QSize(16, 16));
    }

    void longCaptionIsShortenedNotClipped() {
        auto *b = NewButton("Проверить обновление в Internet", QRect(10, 10, 90, 30));
        const QRect bounds = b->CurrentLayout().TextBounds;
        QVERIFY(b->ContentRect().contains(bounds));
        QVERIFY(b->ContentRect().contains(QRect(b->CurrentLayout().GlyphPos, QSize(16, 16))));
        QCOMPARE(Find(Grab(b, "long_caption_shortened"), kUpColour).size(), QSize(16, 16));
        // The layout asks for room for the whole caption.
        QVERIFY(b->sizeHint().width() >=
                16 + 4 + b->fontMetrics().horizontalAdvance("Проверить обновление в Internet"));
        b->resize(b->sizeHint());
        QVERIFY(b->ContentRect().contains(b->CurrentLayout().TextBounds));
        Grab(b, "long_caption_size_hint");
        QCOMPARE(b->CurrentLayout().TextBounds.width(),
                 b->fontMetrics().size(Qt::TextShowMnemonic, "Проверить обновление в Internet").width());
    }

    void faces() {
        // Every state draws a face of its own: a hot, a pressed and a latched button must look
        // different from an idle one, in both looks.
        for (bool themes : {true, false}) {
            TGraphicSpeedButton::SetThemesEnabled(themes);
            for (bool flat : {false, true}) {
                auto *b = NewButton("Открыть", QRect(10, 10, 120, 30), 5);
                b->SetFlat(flat);
                const QString tag =
                    QString("%1_%2_").arg(themes ? "themed" : "classic", flat ? "flat" : "push");
                const QImage idle = Grab(b, tag + "idle");
                QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), b->mapToGlobal(QPointF(5, 5)));
                QApplication::sendEvent(b, &enter);
                // Only the flat look and the themed faces track the pointer.
                QCOMPARE(b->MouseInControl(), flat || themes);
                const QImage hot = Grab(b, tag + "hot");
                QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
                const QImage pressed = Grab(b, tag + "pressed");
                QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));
                QVERIFY(b->Down());
                const QImage latched = Grab(b, tag + "latched");
                QEvent leave(QEvent::Leave);
                QApplication::sendEvent(b, &leave);
                QVERIFY(!b->MouseInControl());
                if (flat || themes) QVERIFY2(hot != idle, qPrintable(tag));
                QVERIFY2(pressed != idle, qPrintable(tag));
                QVERIFY2(latched != idle, qPrintable(tag));
                b->setEnabled(false);
                Grab(b, tag + "disabled");
                delete b;
            }
        }
    }

    void accelerator() {
        auto *b = NewButton("&Open", QRect(10, 10, 100, 30));
        QSignalSpy clicks(b, &QAbstractButton::clicked);
        QTest::keyClick(FForm.get(), Qt::Key_O, Qt::AltModifier);
        QCOMPARE(clicks.count(), 1);
        b->setEnabled(false);
        QTest::keyClick(FForm.get(), Qt::Key_O, Qt::AltModifier);
        QCOMPARE(clicks.count(), 1);
    }

    void hotTrackingFromWindowEvents() {
        auto *b = NewButton("Hot", QRect(10, 10, 100, 30));
        b->SetFlat(true);
        QWindow *window = FForm->windowHandle();
        QTest::mouseMove(window, QPoint(300, 200));
        QTRY_VERIFY(!b->MouseInControl());
        QTest::mouseMove(window, QPoint(20, 20));
        QTRY_VERIFY(b->MouseInControl());
        QTest::mouseMove(window, QPoint(300, 200));
        QTRY_VERIFY(!b->MouseInControl());
    }

    void actionLink() {
        QAction action("Из файла");
        action.setCheckable(true);
        action.setProperty(TGraphicSpeedButtonActionLink::GroupIndexProperty, 4);
        auto *b = NewButton("", QRect(10, 10, 120, 30));
        b->SetAction(&action);
        QCOMPARE(b->Caption(), QStringLiteral("Из файла"));
        QCOMPARE(b->GroupIndex(), 4);
        QCOMPARE(b->ActionLink()->ImageIndex(), -1);

        QSignalSpy triggered(&action, &QAction::triggered);
        Click(b);
        QCOMPARE(triggered.count(), 1);
        QVERIFY(b->Down());

        // The checked state is followed only with AllowAllUp in a group.
        b->SetAllowAllUp(true);
        action.setChecked(false);
        QVERIFY(!b->Down());
        action.setChecked(true);
        QVERIFY(b->Down());

        // Another member going down releases this one and unchecks its action.
        auto *other = NewButton("Other", QRect(10, 50, 120, 30), 4);
        other->SetDown(true);
        QVERIFY(!b->Down());
        QVERIFY(!action.isChecked());

        // The action's group index is followed.
        action.setProperty(TGraphicSpeedButtonActionLink::GroupIndexProperty, 6);
        QCOMPARE(b->GroupIndex(), 6);

        action.setEnabled(false);
        QVERIFY(!b->isEnabled());
        action.setEnabled(true);
        action.setText("Открыть");
        QCOMPARE(b->Caption(), QStringLiteral("Открыть"));
    }

    void actionImageIndex() {
        QAction action("Picture");
        QPixmap first(16, 16);
        first.fill(Qt::white);
        QPixmap second(16, 16);
        second.fill(Qt::transparent);
        {
            QPainter p(&second);
            p.fillRect(4, 4, 8, 8, kUpColour);
        }
        action.setProperty(TGraphicSpeedButtonActionLink::ImagesProperty,
                           QVariant::fromValue(QList<QPixmap>{first, second}));
        auto *b = new TGraphicSpeedButton(FForm.get());
        b->SetAction(&action);
        action.setProperty(TGraphicSpeedButtonActionLink::ImageIndexProperty, 1);
        QCOMPARE(b->ActionLink()->ImageIndex(), 1);
        const QImage glyph = b->GlyphUp().toImage();
        QCOMPARE(glyph.size(), QSize(16, 16));
        QCOMPARE(QColor(glyph.pixel(8, 8)), kUpColour);
        // The magenta key of the list image stays transparent.
        QCOMPARE(qAlpha(glyph.pixel(0, 0)), 0);
        // An index outside the list changes nothing but is taken over.
        action.setProperty(TGraphicSpeedButtonActionLink::ImageIndexProperty, 7);
        QCOMPARE(b->ActionLink()->ImageIndex(), 7);
        QCOMPARE(QColor(b->GlyphUp().toImage().pixel(8, 8)), kUpColour);
    }

    void clickHandlerMayDeleteTheButton() {
        auto *b = NewButton("Close", QRect(10, 10, 100, 30));
        b->SetFlat(true);
        QPointer<TGraphicSpeedButton> watch(b);
        connect(b, &QAbstractButton::clicked, b, [b] { delete b; });
        QTest::mousePress(b, Qt::LeftButton, {}, QPoint(5, 5));
        QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(watch.isNull());
    }

    void actionDestroyed() {
        auto action = std::make_unique<QAction>("Gone");
        auto *b = new TGraphicSpeedButton(FForm.get());
        b->SetAction(action.get());
        action.reset();
        QCOMPARE(b->Action(), nullptr);
        Click(b);
    }
};

TAMREL_TEST_MAIN(tst_GraphicSpeedButton)
#include "tst_GraphicSpeedButton.moc"
