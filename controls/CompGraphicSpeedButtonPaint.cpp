// TGraphicSpeedButton: the face (themed through QStyle, or the classic frames), and the
// arithmetic that places picture and caption.
#include "CompGraphicSpeedButton.h"

#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionToolButton>
#include <qdrawutil.h>

TButtonLayoutResult CalcButtonLayout(const QRect &client, const QPoint &offset, QSize glyphSize,
                                     QSize textSize, TButtonLayout layout, int margin, int spacing,
                                     bool offsetCaption) {
    const bool horizontal = layout == blGlyphLeft || layout == blGlyphRight;
    QPoint glyph, text;
    // Across the main axis both are centred on their own.
    if (horizontal) {
        glyph.setY((client.height() - glyphSize.height() + 1) / 2);
        text.setY((client.height() - textSize.height() + 1) / 2);
    } else {
        glyph.setX((client.width() - glyphSize.width() + 1) / 2);
        text.setX((client.width() - textSize.width() + 1) / 2);
    }
    if (textSize.width() == 0 || glyphSize.width() == 0) spacing = 0;
    const int clientLength = horizontal ? client.width() : client.height();
    const int g = horizontal ? glyphSize.width() : glyphSize.height();
    const int t = horizontal ? textSize.width() : textSize.height();
    if (margin == -1) {
        if (spacing < 0) {
            margin = (clientLength - g - t) / 3;
            spacing = margin;
        } else {
            margin = (clientLength - (g + spacing + t) + 1) / 2;
        }
    } else if (spacing < 0) {
        spacing = (clientLength - (margin + g) - t) / 2;
    }
    int glyphMain = 0;
    int textMain = 0;
    if (layout == blGlyphLeft || layout == blGlyphTop) {
        glyphMain = margin;
        textMain = glyphMain + g + spacing;
    } else {
        glyphMain = clientLength - margin - g;
        textMain = glyphMain - spacing - t;
    }
    if (horizontal) {
        glyph.setX(glyphMain);
        text.setX(textMain);
    } else {
        glyph.setY(glyphMain);
        text.setY(textMain);
    }
    TButtonLayoutResult result;
    result.GlyphPos = glyph + client.topLeft() + offset;
    result.TextBounds = QRect(text + client.topLeft() + (offsetCaption ? offset : QPoint()), textSize);
    return result;
}

namespace {
bool Pressed(TButtonState state) {
    return state == bsDown || state == bsExclusive;
}

void InitToolOption(QStyleOptionToolButton &opt, const TGraphicSpeedButton *button, bool hot) {
    opt.initFrom(button);
    opt.rect = button->rect();
    opt.subControls = QStyle::SC_ToolButton;
    opt.activeSubControls = QStyle::SC_None;
    opt.features = QStyleOptionToolButton::None;
    opt.toolButtonStyle = Qt::ToolButtonIconOnly;
    opt.state |= QStyle::State_AutoRaise;
    opt.state &= ~QStyle::State_MouseOver;
    if (hot) opt.state |= QStyle::State_MouseOver;
    if (Pressed(button->State())) {
        // The style sinks the face only when the button part is the active one.
        opt.state |= QStyle::State_Sunken;
        opt.activeSubControls = QStyle::SC_ToolButton;
    } else {
        opt.state |= QStyle::State_Raised;
    }
    if (button->State() == bsExclusive) opt.state |= QStyle::State_On;
}

void InitPushOption(QStyleOptionButton &opt, const TGraphicSpeedButton *button, bool hot) {
    opt.initFrom(button);
    opt.rect = button->rect();
    opt.features = QStyleOptionButton::None;
    opt.state &= ~QStyle::State_MouseOver;
    if (hot) opt.state |= QStyle::State_MouseOver;
    if (Pressed(button->State()))
        opt.state |= QStyle::State_Sunken;
    else
        opt.state |= QStyle::State_Raised;
    if (button->State() == bsExclusive) opt.state |= QStyle::State_On;
}

// Inside the themed tool-button face: the frame that the style draws around a pressed face.
constexpr int kFlatContentInset = 2;
} // namespace

QString TGraphicSpeedButton::ShownCaption() const {
    const QString caption = text();
    return caption == QLatin1String(" ") ? QString() : caption;
}

QSize TGraphicSpeedButton::CaptionSize(int maxWidth) const {
    const QString caption = ShownCaption();
    if (caption.isEmpty()) return QSize(0, 0);
    const QSize size = fontMetrics().size(Qt::TextSingleLine | Qt::TextShowMnemonic, caption);
    // Measured within the content width: a longer caption is shortened with an ellipsis.
    return QSize(std::min(size.width(), std::max(maxWidth, 0)), size.height());
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

void TGraphicSpeedButton::Paint(QPainter &painter) {
    FixState();
    painter.setFont(font());
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
            style()->drawComplexControl(QStyle::CC_ToolButton, &opt, &painter, this);
        } else {
            QStyleOptionButton opt;
            InitPushOption(opt, this, hot);
            style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &painter, this);
        }
    } else {
        const QPalette &pal = palette();
        QRect face = rect();
        if (!FFlat) {
            qDrawWinButton(&painter, face, pal, pressed, &pal.brush(QPalette::Button));
            face.adjust(2, 2, -2, -2);
        } else {
            if (pressed || (FMouseInControl && FState != bsDisabled)) {
                qDrawShadePanel(&painter, face, pal, pressed, 1,
                                FTransparent ? nullptr : &pal.brush(QPalette::Button));
            } else if (!FTransparent) {
                painter.fillRect(face, pal.brush(QPalette::Button));
            }
            face.adjust(1, 1, -1, -1);
        }
        if (FState == bsExclusive && !(FFlat && FMouseInControl)) {
            // The latched face: a checkered pattern of face and highlight.
            painter.fillRect(face, pal.brush(QPalette::Button));
            painter.fillRect(face, QBrush(pal.color(QPalette::Light), Qt::Dense4Pattern));
        }
    }

    const TButtonLayoutResult layout = CurrentLayout();
    const QPixmap glyph = Glyph();
    if (!glyph.isNull() && !glyph.deviceIndependentSize().isEmpty())
        painter.drawPixmap(layout.GlyphPos, glyph);

    const QString caption = ShownCaption();
    if (caption.isEmpty()) return;
    const QRect bounds = layout.TextBounds;
    const QString shown =
        fontMetrics().elidedText(caption, Qt::ElideRight, bounds.width(), Qt::TextShowMnemonic);
    const int flags = Qt::AlignCenter | Qt::TextSingleLine | Qt::TextShowMnemonic;
    if (!enabled) {
        // Embossed: the highlight one pixel down and right, the shadow in place.
        painter.setPen(palette().color(QPalette::Active, QPalette::Light));
        painter.drawText(bounds.translated(1, 1), flags, shown);
        painter.setPen(palette().color(QPalette::Active, QPalette::Dark));
        painter.drawText(bounds, flags, shown);
    } else {
        painter.setPen(captionColor);
        painter.drawText(bounds, flags, shown);
    }
}
