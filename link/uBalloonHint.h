#pragma once
// A balloon hint: a small frameless window with a bold title and a stem whose tip touches a
// screen point; it appears at once and hides by itself after HideAfter milliseconds. The
// balloon is kept whole on the screen that shows its owner's window: its body slides along
// the screen's edges (the stem still points at the point), it opens upwards when there is no
// room below the point, and a title wider than the screen is wrapped.
#include <QFrame>
#include <QPoint>
#include <QString>

class QPainterPath;
class QScreen;
class QTimer;

class TBalloonHint : public QFrame {
    Q_OBJECT
public:
    explicit TBalloonHint(QWidget *owner = nullptr);

    QString Title() const { return FTitle; }
    void SetTitle(const QString &title);
    // Lines under the bold title, in the normal font; empty: the title alone.
    QString Text() const { return FBodyText; }
    void SetText(const QString &text);
    int HideAfter = 2000;

    // Shows the balloon with its stem's tip at Point (screen coordinates).
    void ShowHint(const QPoint &point);
    // The point it was asked to show.
    QPoint ShownAt() const { return FShownAt; }
    // Where the stem's tip is drawn, in screen coordinates: Point, unless Point lies off the
    // screen, in which case the nearest point on it.
    QPoint TipAt() const { return pos() + FTip; }
    // How many times it was shown, for diagnostics.
    int ShowCount() const { return FShowCount; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QScreen *TargetScreen(const QPoint &point) const;
    QPainterPath Outline() const;
    QFont TextFont() const;

    QString FTitle;
    QString FBodyText;
    QTimer *FHideTimer = nullptr;
    QPoint FShownAt;
    int FShowCount = 0;
    // Layout of the last showing, in the balloon's own coordinates.
    QRect FBody;  // the rounded body
    QRect FText;  // the title's area inside the body
    QRect FLines; // the text's area under the title
    QPoint FTip;  // the stem's tip
    bool FStemUp = true;
    bool FWrap = false;
};
