#pragma once
// TGraphicSpeedButton: an owner-painted speed button that shows a caption beside one of three
// pictures (up, latched down, disabled); a click button, or a latching one that is exclusive
// within its group among the buttons of the same parent.
#include <QAbstractButton>
#include <QPixmap>
#include <QPointer>

class QAction;
class TGraphicSpeedButtonActionLink;

enum TButtonLayout { blGlyphLeft = 0, blGlyphRight = 1, blGlyphTop = 2, blGlyphBottom = 3 };
enum TButtonState { bsUp = 0, bsDisabled = 1, bsDown = 2, bsExclusive = 3 };

// Where the picture and the caption go inside the content rectangle.
struct TButtonLayoutResult {
    QPoint GlyphPos;
    QRect TextBounds;
};

// The picture/caption arithmetic. Client is the content rectangle, Offset the pressed shift;
// GlyphSize and TextSize are 0 x 0 when absent. The caption is moved by Offset only when
// OffsetCaption is set (the classic look). Margin and Spacing of -1 mean "computed".
TButtonLayoutResult CalcButtonLayout(const QRect &client, const QPoint &offset, QSize glyphSize,
                                     QSize textSize, TButtonLayout layout, int margin, int spacing,
                                     bool offsetCaption);

class TGraphicSpeedButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TGraphicSpeedButton(QWidget *aOwner = nullptr);
    ~TGraphicSpeedButton() override;

    // The look follows the desktop style (themed faces); switched off, the classic frames are drawn.
    static void SetThemesEnabled(bool value);
    static bool ThemesEnabled();

    QPixmap GlyphUp() const { return FGlyphUp; }
    void SetGlyphUp(const QPixmap &value);
    QPixmap GlyphDown() const { return FGlyphDown; }
    void SetGlyphDown(const QPixmap &value);
    QPixmap GlyphDisabled() const { return FGlyphDisabled; }
    void SetGlyphDisabled(const QPixmap &value);
    // The picture for the current state; null when there is none.
    QPixmap Glyph() const;

    QString Caption() const { return text(); }
    void SetCaption(const QString &value) { setText(value); }
    int GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(int value);
    bool Down() const { return FDown; }
    void SetDown(bool value);
    bool AllowAllUp() const { return FAllowAllUp; }
    void SetAllowAllUp(bool value);
    TButtonLayout Layout() const { return FLayout; }
    void SetLayout(TButtonLayout value);
    int Spacing() const { return FSpacing; }
    void SetSpacing(int value);
    int Margin() const { return FMargin; }
    void SetMargin(int value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    bool Flat() const { return FFlat; }
    void SetFlat(bool value);

    TButtonState State() const { return FState; }
    bool MouseInControl() const { return FMouseInControl; }
    bool Dragging() const { return FDragging; }

    // The action that this button shows and triggers; not owned.
    QAction *Action() const;
    void SetAction(QAction *value);
    TGraphicSpeedButtonActionLink *ActionLink() const { return FActionLink; }

    // Fires the click notification and the action.
    virtual void Click();

    // Content rectangle and offset of the current state, and where picture and caption go.
    TButtonLayoutResult CurrentLayout() const;
    QRect ContentRect() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A double click on a latched-down button.
    void DblClick();

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    friend class TGraphicSpeedButtonActionLink;

    bool Inside(const QPoint &pos) const;
    void UpdateTracking(bool pointerInside);
    void MouseEnter();
    void MouseLeave();
    void UpdateExclusive();
    void ButtonPressed(int group, TGraphicSpeedButton *sender);
    void FixState();
    void ActionChange(bool checkDefaults);
    QString ShownCaption() const;
    QSize CaptionSize(int maxWidth) const;
    void Paint(QPainter &painter);

    QPixmap FGlyphUp;
    QPixmap FGlyphDisabled;
    QPixmap FGlyphDown;
    int FGroupIndex = 0;
    bool FDown = false;
    bool FDragging = false;
    bool FAllowAllUp = false;
    TButtonLayout FLayout = blGlyphLeft;
    int FSpacing = 4;
    bool FTransparent = true;
    int FMargin = -1;
    bool FFlat = false;
    bool FMouseInControl = false;
    TButtonState FState = bsUp;
    TGraphicSpeedButtonActionLink *FActionLink = nullptr;
};

// Connects a button to a QAction: the action's text, tool tip, enabled and visible state, its
// checked state and triggering. The integer group and image index of an action, and the image
// list of the actions (pictures of one size), are the action's dynamic properties named below.
class TGraphicSpeedButtonActionLink : public QObject {
    Q_OBJECT
public:
    static constexpr const char *GroupIndexProperty = "GroupIndex";
    static constexpr const char *ImageIndexProperty = "ImageIndex";
    static constexpr const char *ImagesProperty = "Images"; // QList<QPixmap>

    TGraphicSpeedButtonActionLink(TGraphicSpeedButton *client, QAction *action);
    QAction *Action() const { return FAction; }
    int ImageIndex() const { return FImageIndex; }

    static int ActionGroupIndex(const QAction *action);
    static int ActionImageIndex(const QAction *action);

    bool IsCheckedLinked() const;
    bool IsGroupIndexLinked() const;
    bool IsImageIndexLinked() const;
    void SetChecked(bool value);
    void SetGroupIndex(int value);
    void SetImageIndex(int value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ActionChanged();

    TGraphicSpeedButton *FClient;
    QPointer<QAction> FAction;
    int FImageIndex = -1;
    bool FLastChecked = false;
    int FLastImageIndex = -1;
};
