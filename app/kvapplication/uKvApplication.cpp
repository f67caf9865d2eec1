#include "uKvApplication.h"

#include <QMessageBox>
#include <QMutex>
#include <QThread>

namespace {

QMutex DisplayLock;
TErrorDisplay &CurrentDisplay() {
    static TErrorDisplay D;
    return D;
}

void ShowInMessageBox(const QString &Message) {
    QWidget *Parent = QApplication::activeWindow();
    QMessageBox::critical(Parent, QApplication::applicationName(), Message);
}

} // namespace

TKvApplication::TKvApplication(int &argc, char **argv) : QApplication(argc, argv) {
}

bool TKvApplication::notify(QObject *Receiver, QEvent *Event) {
    try {
        return QApplication::notify(Receiver, Event);
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

void TKvApplication::SetErrorDisplay(TErrorDisplay ADisplay) {
    QMutexLocker L(&DisplayLock);
    CurrentDisplay() = std::move(ADisplay);
}

void TKvApplication::ShowError(const QString &Message) {
    TErrorDisplay D;
    {
        QMutexLocker L(&DisplayLock);
        D = CurrentDisplay();
    }
    if (D) {
        D(Message);
        return;
    }
    // A message box belongs to the GUI thread; errors of other threads are posted there.
    if (QCoreApplication::instance() && QThread::currentThread() != QCoreApplication::instance()->thread()) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [Message] { ShowError(Message); }, Qt::QueuedConnection);
        return;
    }
    ShowInMessageBox(Message);
}

QString TKvApplication::ExceptionMessage(std::exception_ptr Error) {
    try {
        if (Error) std::rethrow_exception(Error);
    } catch (const std::exception &E) {
        return QString::fromUtf8(E.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
    return {};
}

void TKvApplication::ShowCurrentException() {
    ShowError(ExceptionMessage(std::current_exception()));
}
