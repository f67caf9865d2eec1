// Chart screenshots and the Russian texts of the main window.
#include "CompFloatEdit.h"
#include "uBalloonHint.h"
#include "uFormTamrel.h"
#include "uFrameDeviceLinkComMorva.h"
#include "uFrameTamrelChannel.h"
#include "uProgramFolder.h"
#include "uTamrelWidgets.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QImageWriter>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSaveFile>
#include <QTabWidget>
#include <QToolButton>

#include <stdexcept>

namespace {

// Lays out a page that has not been shown, top down, as showing it will: a tab page gets its
// size from the page control and its contents their places from the layouts only when it is
// shown, so until then the widgets on it stand at their unlaid-out places.
void LayOutUnshown(QWidget *w) {
    if (QLayout *l = w->layout()) {
        l->activate();
        l->setGeometry(w->contentsRect());
    }
    for (QObject *o : w->children()) {
        auto *child = qobject_cast<QWidget *>(o);
        if (child && !child->isWindow() && !child->isHidden()) LayOutUnshown(child);
    }
}

} // namespace

QString TFormTamrel::ScreenshotFolder() const {
    // Next to the program, or the user's Pictures folder for an installed program; the balloon
    // names the file either way.
    return FScreenshotFolder.isEmpty() ? SaveFolder(QStandardPaths::PicturesLocation).Path
                                       : FScreenshotFolder;
}

QString TFormTamrel::ButtonSaveWindowClick() {
    // The capture area is the hidden panel that lies exactly over the chart pages: the tab
    // headers and the visible tab with its chart and its settings row, as the window shows them.
    const QRect area(PanelChart->mapTo(this, QPoint(0, 0)), PanelChart->size());
    QImage image = grab(area).toImage();
    // Truecolour with 8 bits per sample and no alpha channel.
    image = image.convertToFormat(QImage::Format_RGB888);

    const QString name = QStringLiteral("Screenshot_") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_hh-mm-ss")) +
                         QStringLiteral(".png");
    const QString path = QDir(ScreenshotFolder()).absoluteFilePath(name);
    // Written to a temporary file and renamed, so an existing file of that name is replaced
    // whole and a failed write leaves no half-written picture behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error(QStringLiteral("Cannot save the screenshot %1: %2")
                                     .arg(QDir::toNativeSeparators(path), file.errorString())
                                     .toStdString());
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        file.cancelWriting();
        throw std::runtime_error(QStringLiteral("Cannot save the screenshot %1: %2")
                                     .arg(QDir::toNativeSeparators(path), writer.errorString())
                                     .toStdString());
    }
    if (!file.commit())
        throw std::runtime_error(QStringLiteral("Cannot save the screenshot %1: %2")
                                     .arg(QDir::toNativeSeparators(path), file.errorString())
                                     .toStdString());

    const QString nativePath = QDir::toNativeSeparators(path);
    // The balloon points at the hysteresis tab's button, whichever button was pressed: at
    // where it stands when its tab is shown, which a tab never shown has not worked out yet.
    if (!sTabSheetChartHyst->isVisible()) {
        if (QWidget *shown = sPageControl1->currentWidget())
            sTabSheetChartHyst->setGeometry(shown->geometry());
        LayOutUnshown(sTabSheetChartHyst);
    }
    const QPoint at =
        ButtonSaveWindow->mapToGlobal(QPoint(ButtonSaveWindow->width() / 2, ButtonSaveWindow->height() - 20));
    BalloonHintInd->SetTitle(QStringLiteral("График сохранен: ") + QLatin1Char('\n') + nativePath);
    BalloonHintInd->ShowHint(at);
    return nativePath;
}

void TFormTamrel::DoRus() {
    FRussian = true;
    ButtonUpdateFirmware->setText(QStringLiteral("Обновить прошивку"));
    LabelFindAndConnect->setText(QStringLiteral("Найти и подключиться:"));
    LabelManualControl->setText(QStringLiteral("Ручное управление:"));
    NManualInPercent->setText(QStringLiteral("Регулировать в %"));
    NManualInVolt->setText(QStringLiteral("Регулировать в В"));
    LabePanelHeadType->setText(QStringLiteral("Тип головки насоса:"));
    RadioGroupResistiveHead->SetItemText(0, QStringLiteral("Индуктивная"));
    RadioGroupResistiveHead->SetItemText(1, QStringLiteral("Резистивная"));
    LabelHeadTemperature->setText(QStringLiteral("Температура головки:"));
    sPageControl1->setTabText(sPageControl1->indexOf(sTabSheetChartPosition),
                              QStringLiteral("Текущее положение"));
    sPageControl1->setTabText(sPageControl1->indexOf(sTabSheetChartHyst),
                              QStringLiteral("Измерять гистерезис"));
    sCheckBoxPositionFast->setText(QStringLiteral("Рисовать часто"));
    LabelStart->setText(QStringLiteral("Начать с (%):"));
    LabelEnd->setText(QStringLiteral("закончить (%):"));
    LabelStep->setText(QStringLiteral("шаг (%):"));
    LabelPeriod->setText(QStringLiteral("Период (мс):"));
    ButtonStartStop->setText(QStringLiteral("Старт"));
    LabelHeadSerial->setText(QStringLiteral("Серийный номер головки:"));
    CheckBoxSampleAfterStep->setText(QStringLiteral("Отсчёт сразу после шага"));
    ButtonLimits->setText(QStringLiteral("Допуски…"));
    ButtonExportRecordCsv->setText(QStringLiteral("Экспорт CSV"));
    ButtonReportPdf->setText(QStringLiteral("Отчёт PDF…"));
    ButtonExportSamplesCsv->setText(QStringLiteral("Экспорт CSV"));
    TextSweepNotConnected = QStringLiteral("Нет подключения: сначала подключитесь к устройству");
    DeviceLink->sButtonConnect->setAccessibleName(LabelFindAndConnect->text());
    NameScreenshotButtons(QStringLiteral("Скриншот графика"));
    FrameTamrelChannel1->DoRus();
    FrameTamrelChannel2->DoRus();
}

void TFormTamrel::NameScreenshotButtons(const QString &what) {
    // The two buttons show the same picture: their names say which tab's chart they save.
    auto name = [this, &what](QWidget *page) {
        return what + QStringLiteral(" (") + sPageControl1->tabText(sPageControl1->indexOf(page)) +
               QLatin1Char(')');
    };
    sSpeedButton1->setAccessibleName(name(sTabSheetChartPosition));
    ButtonSaveWindow->setAccessibleName(name(sTabSheetChartHyst));
}
