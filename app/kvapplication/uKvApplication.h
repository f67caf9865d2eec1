#pragma once
// The application object with the program's general error display: an error that leaves a
// user action or a timer handler is shown to the user in a message box instead of crossing
// Qt's event loop. Handlers of this program's widgets run their bodies through RunGuarded,
// and notify() catches whatever still reaches the event dispatch.
#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

using TErrorDisplay = std::function<void(const QString &message)>;

class TKvApplication : public QApplication {
    Q_OBJECT
public:
    TKvApplication(int &argc, char **argv);

    bool notify(QObject *receiver, QEvent *event) override;

    // Where error messages go; empty restores the message box. Tests capture messages here.
    static void SetErrorDisplay(TErrorDisplay display);
    // Shows Message through the current error display.
    static void ShowError(const QString &message);
    // Shows the message of the exception being handled (call inside a catch block).
    static void ShowCurrentException();
    static QString ExceptionMessage(std::exception_ptr error);

    // Runs Body; an exception it raises goes to the error display. True when none was raised.
    template <class F> static bool RunGuarded(F &&body) {
        try {
            body();
            return true;
        } catch (...) {
            ShowCurrentException();
            return false;
        }
    }
};
