#pragma once
// The one-page report of a test record: who, when and on what, the loop as a vector chart with
// the maximum hysteresis marked, the figures, the limits and the verdict.
#include "uTestRecord.h"

#include <QByteArray>
#include <QColor>
#include <QRectF>

class QPainter;
#include <QFont>
#include <QStringList>

namespace TestReportColors {
// The branches in the colours the program's hysteresis chart gives channel 1.
inline const QColor Rising(255, 0, 0);
inline const QColor Falling(255, 144, 96);
inline const QColor MaxHysteresis(0, 70, 200);
inline const QColor Pass(0, 153, 51);
inline const QColor Fail(204, 0, 0);
inline const QColor NoVerdict(110, 110, 110);
} // namespace TestReportColors

// "Hysteresis test of head <serial>": the PDF's title, which viewers show and search.
QString TestRecordReportTitle(const TTestRecord &record);

// A line of text fitted to a width: the largest pixel size from largestPx down to smallestPx at
// which it fits on one line; where even the smallest does not, the text wrapped at any
// character into at most maxLines lines of that size, the last ending in "…" when more is left.
// A serial is typed freely: a long one shrinks and wraps instead of being cut.
struct TFittedText {
    int PixelSize = 0;
    QStringList Lines;
};
TFittedText FitText(const QString &text, QFont font, double width, int largestPx, int smallestPx,
                    int maxLines);

// Paints the report into page on any paint device (a PDF page, an image); everything is sized
// from page's width, so the layout is the same at every resolution.
void PaintTestRecordReport(QPainter &painter, const QRectF &page, const TTestRecord &record);

// The report as a PDF document of one A4 page with vector graphics.
QByteArray TestRecordPdf(const TTestRecord &record);
// Writes it to path; raises ETestRecordExport when it cannot.
void SaveTestRecordPdf(const TTestRecord &record, const QString &path);
