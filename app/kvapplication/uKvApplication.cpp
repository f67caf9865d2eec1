#include "uKvApplication.h"

#include "uKvThreadHandOver.h"

#include <QMessageBox>
#include <QMutex>
#include <QThread>

namespace {

QMutex DisplayLock;
TErrorDisplay &CurrentDisplay() {
    static TErrorDisplay d;
    return d;
}

void ShowInMessageBox(const QString &message) {
    QWidget *parent = QApplication::activeWindow();
    QMessageBox::critical(parent, QApplication::applicationName(), message);
}

} // namespace

TKvApplication::TKvApplication(int &argc, char **argv) : QApplication(argc, argv) {
}

bool TKvApplication::notify(QObject *receiver, QEvent *event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

void TKvApplication::SetErrorDisplay(TErrorDisplay aDisplay) {
    QMutexLocker l(&DisplayLock);
    CurrentDisplay() = std::move(aDisplay);
}

void TKvApplication::ShowError(const QString &message) {
    TErrorDisplay d;
    {
        QMutexLocker l(&DisplayLock);
        d = CurrentDisplay();
    }
    if (d) {
        d(message);
        return;
    }
    // A message box belongs to the GUI thread; errors of other threads are posted there.
    if (QCoreApplication::instance() && QThread::currentThread() != QCoreApplication::instance()->thread()) {
        KvThread::Post(QCoreApplication::instance(), [message] { ShowError(message); });
        return;
    }
    ShowInMessageBox(message);
}

QString TKvApplication::ExceptionMessage(std::exception_ptr error) {
    try {
        if (error) std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
    return {};
}

void TKvApplication::ShowCurrentException() {
    ShowError(ExceptionMessage(std::current_exception()));
}
