#include "uTestRecordPdf.h"

#include "uTestRecordExportFile.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <cmath>

namespace {

// Lengths are in units of 1/180 of the page width: about a millimetre on A4 with 15 mm margins.
class TReportPainter {
public:
    TReportPainter(QPainter &painter, const QRectF &page) : P(painter), Page(page), U(page.width() / 180.0) {}

    QPainter &P;
    QRectF Page;
    double U;

    QPointF At(double x, double y) const { return Page.topLeft() + QPointF(x * U, y * U); }
    QRectF Box(double x, double y, double w, double h) const {
        return QRectF(At(x, y), QSizeF(w * U, h * U));
    }

    void Font(double size, bool bold = false) {
        QFont font = P.font();
        font.setPixelSize(std::max(1, int(std::lround(size * U))));
        font.setBold(bold);
        P.setFont(font);
    }

    void Text(const QRectF &box, const QString &text, int flags = Qt::AlignLeft | Qt::AlignVCenter) {
        const QString shown = QFontMetricsF(P.font()).elidedText(text, Qt::ElideRight, box.width());
        P.drawText(box, flags, shown);
    }

    // A caption and its value on one line.
    void Row(double x, double y, double captionWidth, double width, const QString &caption,
             const QString &value, const QColor &colour = Qt::black) {
        Font(3.4);
        P.setPen(QColor(90, 90, 90));
        Text(Box(x, y, captionWidth, 5), caption);
        P.setPen(colour);
        Text(Box(x + captionWidth, y, width - captionWidth, 5), value);
    }
};

QString Fixed(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

QString Duty(double value) {
    return QString::number(value, 'g', 6) + QStringLiteral(" %");
}

QString LocalTimeText(const QDateTime &time) {
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const QString sign = offset < 0 ? QStringLiteral("-") : QStringLiteral("+");
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" (UTC%1%2:%3)")
               .arg(sign)
               .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
}

QString OneLine(QString text) {
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

// Tick spacing of 1, 2 or 5 times a power of ten giving at most about `count` intervals.
double TickStep(double range, int count) {
    const double raw = range / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) return m * power;
    return 10 * power;
}

struct TAxis {
    double Low = 0;
    double High = 1;
    double Step = 1;
};

TAxis NiceAxis(double low, double high, int count) {
    if (!(high > low)) {
        low -= 1;
        high += 1;
    }
    TAxis axis;
    axis.Step = TickStep(high - low, count);
    axis.Low = std::floor(low / axis.Step) * axis.Step;
    axis.High = std::ceil(high / axis.Step) * axis.Step;
    return axis;
}

void PaintChart(TReportPainter &r, const QRectF &area, const TTestRecord &record) {
    QPainter &p = r.P;
    double dutyLow = std::min(record.Sweep.StartDuty, record.Sweep.EndDuty);
    double dutyHigh = std::max(record.Sweep.StartDuty, record.Sweep.EndDuty);
    double voltsLow = 0, voltsHigh = 0;
    bool anyPoint = false;
    for (const TTestRecordPoint &point : record.Points) {
        if (!std::isfinite(point.Duty) || !std::isfinite(point.Volts)) continue;
        dutyLow = std::min(dutyLow, point.Duty);
        dutyHigh = std::max(dutyHigh, point.Duty);
        voltsLow = anyPoint ? std::min(voltsLow, point.Volts) : point.Volts;
        voltsHigh = anyPoint ? std::max(voltsHigh, point.Volts) : point.Volts;
        anyPoint = true;
    }
    if (!anyPoint) voltsHigh = 5;
    const TAxis x = NiceAxis(dutyLow, dutyHigh, 10);
    const TAxis y = NiceAxis(voltsLow, voltsHigh, 8);

    const QRectF plot = area.adjusted(16 * r.U, 2 * r.U, -3 * r.U, -11 * r.U);
    const auto map = [&](double duty, double volts) {
        return QPointF(plot.left() + (duty - x.Low) / (x.High - x.Low) * plot.width(),
                       plot.bottom() - (volts - y.Low) / (y.High - y.Low) * plot.height());
    };

    p.setPen(QPen(QColor(225, 225, 225), 0.2 * r.U));
    r.Font(2.8);
    for (double v = x.Low; v <= x.High + x.Step / 2; v += x.Step) {
        const double px = map(v, y.Low).x();
        p.setPen(QPen(QColor(225, 225, 225), 0.2 * r.U));
        p.drawLine(QPointF(px, plot.top()), QPointF(px, plot.bottom()));
        p.setPen(Qt::black);
        p.drawText(QRectF(px - 10 * r.U, plot.bottom() + r.U, 20 * r.U, 4 * r.U), Qt::AlignCenter,
                   QString::number(v, 'g', 6));
    }
    for (double v = y.Low; v <= y.High + y.Step / 2; v += y.Step) {
        const double py = map(x.Low, v).y();
        p.setPen(QPen(QColor(225, 225, 225), 0.2 * r.U));
        p.drawLine(QPointF(plot.left(), py), QPointF(plot.right(), py));
        p.setPen(Qt::black);
        p.drawText(QRectF(plot.left() - 15 * r.U, py - 2 * r.U, 14 * r.U, 4 * r.U),
                   Qt::AlignRight | Qt::AlignVCenter, QString::number(v, 'g', 6));
    }
    p.setPen(QPen(Qt::black, 0.3 * r.U));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    r.Font(3.2);
    p.drawText(QRectF(plot.left(), plot.bottom() + 5.5 * r.U, plot.width(), 5 * r.U), Qt::AlignCenter,
               QStringLiteral("Duty (%)"));
    p.save();
    p.translate(area.left() + 2.5 * r.U, plot.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-30 * r.U, -2.5 * r.U, 60 * r.U, 5 * r.U), Qt::AlignCenter, QStringLiteral("Vout (V)"));
    p.restore();

    p.save();
    p.setClipRect(plot.adjusted(-r.U, -r.U, r.U, r.U));
    for (const auto &[branch, colour] :
         {std::pair{sbRising, TestReportColors::Rising}, std::pair{sbFalling, TestReportColors::Falling}}) {
        QPainterPath line;
        QVector<QPointF> dots;
        for (const THysteresisPoint &point : record.Branch(branch)) {
            if (!std::isfinite(point.Duty) || !std::isfinite(point.Volts)) continue;
            const QPointF at = map(point.Duty, point.Volts);
            if (dots.isEmpty())
                line.moveTo(at);
            else
                line.lineTo(at);
            dots << at;
        }
        p.setPen(QPen(colour, 0.6 * r.U, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(line);
        p.setBrush(colour);
        p.setPen(Qt::NoPen);
        for (const QPointF &dot : dots)
            p.drawEllipse(dot, 0.9 * r.U, 0.9 * r.U);
    }

    const THysteresisFigures &figures = record.Figures;
    const std::optional<double> up = BranchVoltsAt(record.Branch(sbRising), figures.MaxAtDuty);
    const std::optional<double> down = BranchVoltsAt(record.Branch(sbFalling), figures.MaxAtDuty);
    if (figures.Available() && up && down) {
        const QPointF a = map(figures.MaxAtDuty, *up), b = map(figures.MaxAtDuty, *down);
        p.setPen(QPen(TestReportColors::MaxHysteresis, 0.5 * r.U, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(a, b);
        p.drawLine(a - QPointF(1.5 * r.U, 0), a + QPointF(1.5 * r.U, 0));
        p.drawLine(b - QPointF(1.5 * r.U, 0), b + QPointF(1.5 * r.U, 0));
        r.Font(3);
        const bool left = a.x() > plot.center().x();
        const QRectF label(left ? a.x() - 32 * r.U : a.x() + 2 * r.U, (a.y() + b.y()) / 2 - 2 * r.U, 30 * r.U,
                           4 * r.U);
        const int flags = (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter;
        const QString text = QStringLiteral("max %1 V").arg(Fixed(figures.MaxVolts, 3));
        // On a light ground, so that a branch running through the label does not hide it.
        p.fillRect(p.boundingRect(label, flags, text).adjusted(-0.5 * r.U, 0, 0.5 * r.U, 0),
                   QColor(255, 255, 255, 220));
        p.drawText(label, flags, text);
    }
    p.restore();
}

void PaintLegend(TReportPainter &r, double y) {
    QPainter &p = r.P;
    r.Font(3.2);
    double x = 16;
    for (const auto &[colour, text] :
         {std::pair{TestReportColors::Rising, QStringLiteral("rising duty")},
          std::pair{TestReportColors::Falling, QStringLiteral("falling duty")},
          std::pair{TestReportColors::MaxHysteresis, QStringLiteral("max hysteresis")}}) {
        p.setPen(QPen(colour, 0.6 * r.U));
        p.drawLine(r.At(x, y + 2.5), r.At(x + 8, y + 2.5));
        p.setPen(Qt::black);
        r.Text(r.Box(x + 10, y, 40, 5), text);
        x += 50;
    }
}

void PaintVerdict(TReportPainter &r, const TTestRecord &record) {
    QPainter &p = r.P;
    const QColor colour = record.Verdict == tvPass   ? TestReportColors::Pass
                          : record.Verdict == tvFail ? TestReportColors::Fail
                                                     : TestReportColors::NoVerdict;
    const QRectF box = r.Box(135, 0, 45, 14);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRect(box);
    p.setPen(Qt::white);
    r.Font(record.Verdict == tvNone ? 4 : 8, true);
    p.drawText(box, Qt::AlignCenter,
               record.Verdict == tvNone ? QStringLiteral("NO LIMITS SET") : TestVerdictText(record.Verdict));
}

QString LimitText(const std::optional<double> &limit, const char *relation, int decimals, const char *unit) {
    if (!limit) return QStringLiteral("not set");
    return QStringLiteral("%1 %2 %3")
        .arg(QString::fromUtf8(relation), Fixed(*limit, decimals), QString::fromUtf8(unit));
}

} // namespace

TFittedText FitText(const QString &text, QFont font, double width, int largestPx, int smallestPx,
                    int maxLines) {
    for (int px = largestPx; px > smallestPx; --px) {
        font.setPixelSize(px);
        if (QFontMetricsF(font).horizontalAdvance(text) <= width) return {px, {text}};
    }
    font.setPixelSize(smallestPx);
    const QFontMetricsF metrics(font);
    TFittedText fitted{smallestPx, {}};
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        // A line ends before the character that would overflow it, never inside a surrogate pair.
        if (!line.isEmpty() && !c.isLowSurrogate() && metrics.horizontalAdvance(line + c) > width) {
            if (fitted.Lines.size() + 1 == maxLines) {
                // The last line room is left for: what does not fit ends in "…".
                fitted.Lines << metrics.elidedText(line + text.mid(i), Qt::ElideRight, width);
                return fitted;
            }
            fitted.Lines << line;
            line.clear();
        }
        line += c;
    }
    if (!line.isEmpty()) fitted.Lines << line;
    return fitted;
}

QString TestRecordReportTitle(const TTestRecord &record) {
    return QStringLiteral("Hysteresis test of head ") + OneLine(record.HeadSerial);
}

void PaintTestRecordReport(QPainter &painter, const QRectF &page, const TTestRecord &record) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    TReportPainter r(painter, page);

    r.Font(6.5, true);
    painter.setPen(Qt::black);
    r.Text(r.Box(0, 0, 130, 8), QStringLiteral("Actuator hysteresis test"));
    // The serial whole: shrunk, then wrapped over the room down to the table (three lines).
    r.Font(4.5, true);
    const QRectF head = r.Box(0, 8, 130, 10);
    const TFittedText fitted =
        FitText(QStringLiteral("Head ") + OneLine(record.HeadSerial), painter.font(), head.width(),
                painter.font().pixelSize(), std::max(1, int(std::lround(2.8 * r.U))), 3);
    QFont headFont = painter.font();
    headFont.setPixelSize(fitted.PixelSize);
    painter.setFont(headFont);
    const double lineHeight = QFontMetricsF(headFont).lineSpacing();
    const double top = fitted.Lines.size() == 1 ? head.top() : head.top() - 1 * r.U;
    for (int i = 0; i < fitted.Lines.size(); ++i)
        painter.drawText(QRectF(head.left(), top + i * lineHeight, head.width(), lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, fitted.Lines[i]);
    PaintVerdict(r, record);

    const TSweepSettings &sweep = record.Sweep;
    const QString sampling =
        sweep.Sampling == smAfterStep ? QStringLiteral("right after each step") : QStringLiteral("settled");
    double y = 18;
    const QVector<std::pair<QString, QString>> header = {
        {QStringLiteral("Date"), LocalTimeText(record.TakenAt)},
        {QStringLiteral("Tester"), OneLine(record.TesterId)},
        {QStringLiteral("Firmware"), OneLine(record.Firmware)},
        {QStringLiteral("Pump / head"),
         OneLine(record.PumpType) + QStringLiteral(" / ") + OneLine(record.HeadType)},
        {QStringLiteral("Sweep"), QStringLiteral("%1 to %2 %, step %3 %, period %4 ms, sampled %5")
                                      .arg(sweep.StartDuty)
                                      .arg(sweep.EndDuty)
                                      .arg(sweep.StepDuty)
                                      .arg(sweep.PeriodMs)
                                      .arg(sampling)},
    };
    for (const auto &[caption, value] : header) {
        r.Row(0, y, 28, 180, caption, value);
        y += 5.2;
    }

    PaintChart(r, r.Box(0, y + 3, 180, 105), record);
    y += 110;
    PaintLegend(r, y);
    y += 9;

    const THysteresisFigures &f = record.Figures;
    r.Font(4, true);
    painter.setPen(Qt::black);
    r.Text(r.Box(0, y, 85, 6), QStringLiteral("Figures"));
    r.Text(r.Box(95, y, 85, 6), QStringLiteral("Limits"));
    y += 7;
    const QString notAvailable = QStringLiteral("not available");
    const QString percentOfSpan =
        f.HasPercent() ? QStringLiteral(" (%1 % of span)").arg(Fixed(f.MaxPercent, 1)) : QString();
    const QString meanPercent =
        f.HasPercent() ? QStringLiteral(" (%1 % of span)").arg(Fixed(f.MeanPercent, 1)) : QString();
    const QVector<std::pair<QString, QString>> figures = {
        {QStringLiteral("Max hysteresis"),
         f.Available() ? Fixed(f.MaxVolts, 3) + QStringLiteral(" V") + percentOfSpan : notAvailable},
        {QStringLiteral("at duty"), f.Available() ? Duty(f.MaxAtDuty) : notAvailable},
        {QStringLiteral("Mean hysteresis"),
         f.Available() ? Fixed(f.MeanVolts, 3) + QStringLiteral(" V") + meanPercent : notAvailable},
        {QStringLiteral("Span"), Fixed(f.SpanVolts, 3) + QStringLiteral(" V")},
        {QStringLiteral("Points compared"), QString::number(f.ComparedPoints)},
    };
    const QVector<std::pair<QString, QString>> limits = {
        {QStringLiteral("Max hysteresis (V)"), LimitText(record.Limits.MaxHysteresisVolts, "≤", 3, "V")},
        {QStringLiteral("Max hysteresis (%)"),
         LimitText(record.Limits.MaxHysteresisPercent, "≤", 1, "% of span")},
        {QStringLiteral("Span"), LimitText(record.Limits.MinSpanVolts, "≥", 3, "V")},
    };
    for (int i = 0; i < figures.size(); ++i)
        r.Row(0, y + 5.2 * i, 32, 90, figures[i].first, figures[i].second);
    for (int i = 0; i < limits.size(); ++i)
        r.Row(95, y + 5.2 * i, 36, 85, limits[i].first, limits[i].second);
    y += 5.2 * figures.size() + 4;

    for (const QString &failure : record.Failures) {
        r.Font(3.6, true);
        painter.setPen(TestReportColors::Fail);
        r.Text(r.Box(0, y, 180, 5.5), failure);
        y += 5.5;
    }

    r.Font(2.6);
    painter.setPen(QColor(120, 120, 120));
    r.Text(QRectF(page.left(), page.bottom() - 4 * r.U, page.width(), 4 * r.U),
           QStringLiteral("Record %1").arg(record.Id), Qt::AlignLeft | Qt::AlignBottom);
    painter.restore();
}

QByteArray TestRecordPdf(const TTestRecord &record) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setTitle(TestRecordReportTitle(record));
        writer.setCreator(QStringLiteral("Tamrel"));
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        QPainter painter;
        if (!painter.begin(&writer))
            throw ETestRecordExport("Cannot make the PDF report: the PDF writer did not start");
        const QRect page = writer.pageLayout().paintRectPixels(writer.resolution());
        PaintTestRecordReport(painter, QRectF(QPointF(0, 0), QSizeF(page.size())), record);
        painter.end();
    }
    return buffer.data();
}

void SaveTestRecordPdf(const TTestRecord &record, const QString &path) {
    SaveExportFile(path, TestRecordPdf(record));
}
