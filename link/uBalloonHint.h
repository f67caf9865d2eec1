#pragma once
// A balloon hint: a small frameless window with a bold title that appears at once at a
// screen point and hides by itself after HideAfter milliseconds.
#include <QFrame>
#include <QPoint>
#include <QString>

class QLabel;
class QTimer;

class TBalloonHint : public QFrame {
    Q_OBJECT
public:
    explicit TBalloonHint(QWidget *Owner = nullptr);

    QString Title() const { return FTitle; }
    void SetTitle(const QString &Title);
    int HideAfter = 2000;

    // Shows the balloon with its tip at Point (screen coordinates).
    void ShowHint(const QPoint &Point);
    QPoint ShownAt() const { return FShownAt; }
    // How many times it was shown, for diagnostics.
    int ShowCount() const { return FShowCount; }

private:
    QString FTitle;
    QLabel *FLabel = nullptr;
    QTimer *FHideTimer = nullptr;
    QPoint FShownAt;
    int FShowCount = 0;
};
