// TGraphicSpeedButton: the face (themed through QStyle, or the classic frames), and the
// arithmetic that places picture and caption.
#include "CompGraphicSpeedButton.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionToolButton>
#include <qdrawutil.h>

TButtonLayoutResult CalcButtonLayout(const QRect &Client, const QPoint &Offset, QSize GlyphSize,
                                     QSize TextSize, TButtonLayout Layout, int Margin, int Spacing,
                                     bool OffsetCaption) {
    const bool horizontal = Layout == blGlyphLeft || Layout == blGlyphRight;
    QPoint glyph, text;
    // Across the main axis both are centred on their own.
    if (horizontal) {
        glyph.setY((Client.height() - GlyphSize.height() + 1) / 2);
        text.setY((Client.height() - TextSize.height() + 1) / 2);
    } else {
        glyph.setX((Client.width() - GlyphSize.width() + 1) / 2);
        text.setX((Client.width() - TextSize.width() + 1) / 2);
    }
    if (TextSize.width() == 0 || GlyphSize.width() == 0) Spacing = 0;
    const int client = horizontal ? Client.width() : Client.height();
    const int g = horizontal ? GlyphSize.width() : GlyphSize.height();
    const int t = horizontal ? TextSize.width() : TextSize.height();
    if (Margin == -1) {
        if (Spacing < 0) {
            Margin = (client - g - t) / 3;
            Spacing = Margin;
        } else {
            Margin = (client - (g + Spacing + t) + 1) / 2;
        }
    } else if (Spacing < 0) {
        Spacing = (client - (Margin + g) - t) / 2;
    }
    int glyphMain = 0;
    int textMain = 0;
    if (Layout == blGlyphLeft || Layout == blGlyphTop) {
        glyphMain = Margin;
        textMain = glyphMain + g + Spacing;
    } else {
        glyphMain = client - Margin - g;
        textMain = glyphMain - Spacing - t;
    }
    if (horizontal) {
        glyph.setX(glyphMain);
        text.setX(textMain);
    } else {
        glyph.setY(glyphMain);
        text.setY(textMain);
    }
    TButtonLayoutResult result;
    result.GlyphPos = glyph + Client.topLeft() + Offset;
    result.TextBounds = QRect(text + Client.topLeft() + (OffsetCaption ? Offset : QPoint()), TextSize);
    return result;
}

namespace {
bool Pressed(TButtonState State) {
    return State == bsDown || State == bsExclusive;
}

void InitToolOption(QStyleOptionToolButton &Opt, const TGraphicSpeedButton *Button, bool Hot) {
    Opt.initFrom(Button);
    Opt.rect = Button->rect();
    Opt.subControls = QStyle::SC_ToolButton;
    Opt.activeSubControls = QStyle::SC_None;
    Opt.features = QStyleOptionToolButton::None;
    Opt.toolButtonStyle = Qt::ToolButtonIconOnly;
    Opt.state |= QStyle::State_AutoRaise;
    Opt.state &= ~QStyle::State_MouseOver;
    if (Hot) Opt.state |= QStyle::State_MouseOver;
    if (Pressed(Button->State())) {
        // The style sinks the face only when the button part is the active one.
        Opt.state |= QStyle::State_Sunken;
        Opt.activeSubControls = QStyle::SC_ToolButton;
    } else {
        Opt.state |= QStyle::State_Raised;
    }
    if (Button->State() == bsExclusive) Opt.state |= QStyle::State_On;
}

void InitPushOption(QStyleOptionButton &Opt, const TGraphicSpeedButton *Button, bool Hot) {
    Opt.initFrom(Button);
    Opt.rect = Button->rect();
    Opt.features = QStyleOptionButton::None;
    Opt.state &= ~QStyle::State_MouseOver;
    if (Hot) Opt.state |= QStyle::State_MouseOver;
    if (Pressed(Button->State()))
        Opt.state |= QStyle::State_Sunken;
    else
        Opt.state |= QStyle::State_Raised;
    if (Button->State() == bsExclusive) Opt.state |= QStyle::State_On;
}

// Inside the themed tool-button face: the frame that the style draws around a pressed face.
constexpr int kFlatContentInset = 2;
} // namespace

QString TGraphicSpeedButton::ShownCaption() const {
    const QString caption = text();
    return caption == QLatin1String(" ") ? QString() : caption;
}

QSize TGraphicSpeedButton::CaptionSize(int MaxWidth) const {
    const QString caption = ShownCaption();
    if (caption.isEmpty()) return QSize(0, 0);
    const QSize size = fontMetrics().size(Qt::TextSingleLine | Qt::TextShowMnemonic, caption);
    // Measured within the content width: a longer caption is shortened with an ellipsis.
    return QSize(std::min(size.width(), std::max(MaxWidth, 0)), size.height());
}

QRect TGraphicSpeedButton::ContentRect() const {
    if (ThemesEnabled()) {
        if (FFlat)
            return rect().adjusted(kFlatContentInset, kFlatContentInset, -kFlatContentInset,
                                   -kFlatContentInset);
        QStyleOptionButton opt;
        InitPushOption(opt, this, FMouseInControl);
        return style()->subElementRect(QStyle::SE_PushButtonContents, &opt, this);
    }
    // Classic: inside the two-pixel push-button frame, or the one-pixel flat edge.
    return FFlat ? rect().adjusted(1, 1, -1, -1) : rect().adjusted(2, 2, -2, -2);
}

TButtonLayoutResult TGraphicSpeedButton::CurrentLayout() const {
    const bool pressed = Pressed(FState);
    QPoint offset;
    if (pressed) offset = ThemesEnabled() ? (FFlat ? QPoint(1, 0) : QPoint(0, 0)) : QPoint(1, 1);
    const QRect client = ContentRect();
    TButtonLayout layout = FLayout;
    if (layoutDirection() == Qt::RightToLeft) {
        if (layout == blGlyphLeft)
            layout = blGlyphRight;
        else if (layout == blGlyphRight)
            layout = blGlyphLeft;
    }
    const QPixmap glyph = Glyph();
    const QSize g = glyph.isNull() ? QSize(0, 0) : glyph.deviceIndependentSize().toSize();
    // A caption that does not fit beside the picture is shortened rather than pushed out of the
    // face together with the picture.
    int room = client.width();
    if (layout == blGlyphLeft || layout == blGlyphRight) {
        if (g.width() > 0) room -= g.width() + std::max(FSpacing, 0);
        // A centred block keeps at least a small margin from the frame.
        room -= 2 * (FMargin == -1 ? 3 : FMargin);
    }
    const QSize t = CaptionSize(room);
    return CalcButtonLayout(client, offset, g, t, layout, FMargin, FSpacing, !ThemesEnabled());
}

QSize TGraphicSpeedButton::sizeHint() const {
    const QPixmap glyph = Glyph().isNull() ? FGlyphUp : Glyph();
    const QSize g = glyph.isNull() ? QSize(0, 0) : glyph.deviceIndependentSize().toSize();
    const QSize t = CaptionSize(QWIDGETSIZE_MAX);
    const int spacing = (g.width() == 0 || t.width() == 0) ? 0 : std::max(FSpacing, 4);
    const int margin = std::max(FMargin, 6);
    QSize content;
    if (FLayout == blGlyphLeft || FLayout == blGlyphRight)
        content = QSize(g.width() + spacing + t.width() + 2 * margin, std::max(g.height(), t.height()) + 4);
    else
        content = QSize(std::max(g.width(), t.width()) + 2 * margin, g.height() + spacing + t.height() + 4);
    // The frame around the content, as the face of the current look takes it.
    const QSize frame = size() - ContentRect().size();
    const QSize hint = content + frame;
    return hint.expandedTo(QSize(22, 23));
}

QSize TGraphicSpeedButton::minimumSizeHint() const {
    return QSize(22, 23);
}

void TGraphicSpeedButton::paintEvent(QPaintEvent *) {
    QPainter p(this);
    Paint(p);
}

void TGraphicSpeedButton::Paint(QPainter &Painter) {
    FixState();
    Painter.setFont(font());
    const bool pressed = Pressed(FState);
    const bool enabled = isEnabled();
    QColor captionColor = palette().color(QPalette::ButtonText);

    if (ThemesEnabled()) {
        // The parent shows through; only the style's face is drawn.
        const bool hot = FMouseInControl && enabled;
        if (FFlat) {
            QStyleOptionToolButton opt;
            InitToolOption(opt, this, hot);
            // The caption keeps the button-text colour when pressed: the styles draw a pressed
            // tool-button face for it, and highlighted text (white) vanishes on their grey face.
            style()->drawComplexControl(QStyle::CC_ToolButton, &opt, &Painter, this);
        } else {
            QStyleOptionButton opt;
            InitPushOption(opt, this, hot);
            style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &Painter, this);
        }
    } else {
        const QPalette &pal = palette();
        QRect face = rect();
        if (!FFlat) {
            qDrawWinButton(&Painter, face, pal, pressed, &pal.brush(QPalette::Button));
            face.adjust(2, 2, -2, -2);
        } else {
            if (pressed || (FMouseInControl && FState != bsDisabled)) {
                qDrawShadePanel(&Painter, face, pal, pressed, 1,
                                FTransparent ? nullptr : &pal.brush(QPalette::Button));
            } else if (!FTransparent) {
                Painter.fillRect(face, pal.brush(QPalette::Button));
            }
            face.adjust(1, 1, -1, -1);
        }
        if (FState == bsExclusive && !(FFlat && FMouseInControl)) {
            // The latched face: a checkered pattern of face and highlight.
            Painter.fillRect(face, pal.brush(QPalette::Button));
            Painter.fillRect(face, QBrush(pal.color(QPalette::Light), Qt::Dense4Pattern));
        }
    }

    const TButtonLayoutResult layout = CurrentLayout();
    const QPixmap glyph = Glyph();
    if (!glyph.isNull() && !glyph.deviceIndependentSize().isEmpty())
        Painter.drawPixmap(layout.GlyphPos, glyph);

    const QString caption = ShownCaption();
    if (caption.isEmpty()) return;
    const QRect bounds = layout.TextBounds;
    const QString shown =
        fontMetrics().elidedText(caption, Qt::ElideRight, bounds.width(), Qt::TextShowMnemonic);
    const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    if (!enabled) {
        // Embossed: the highlight one pixel down and right, the shadow in place.
        Painter.setPen(palette().color(QPalette::Active, QPalette::Light));
        Painter.drawText(bounds.translated(1, 1), flags, shown);
        Painter.setPen(palette().color(QPalette::Active, QPalette::Dark));
        Painter.drawText(bounds, flags, shown);
    } else {
        Painter.setPen(captionColor);
        Painter.drawText(bounds, flags, shown);
    }
}
