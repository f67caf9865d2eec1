#pragma once
// When the test history window has shown a list: the window asks its records worker and shows
// the answer when it comes, so a paint alone may still be of the list before. A list counts as
// shown once the list's viewport has painted after the model took it.
#include "uFormTestHistory.h"
#include "uTestHistoryModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTableView>
#include <QTimer>

#include <functional>

// Runs the event loop until done() holds or timeoutMs passed, without spinning: the loop
// sleeps between events, so the records' threads have the cores. Returns done().
inline bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 60000) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    check.start(1);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

class TShownCounter : public QObject {
public:
    int Paints = 0;
    int PaintsAtList = -1;

    explicit TShownCounter(TFormTestHistory &form) {
        form.TableRecords->viewport()->installEventFilter(this);
        connect(form.ModelRecords, &QAbstractItemModel::modelReset, this, [this] { PaintsAtList = Paints; });
    }
    // A new list is on its way: the one shown before no longer counts.
    void Expect() { PaintsAtList = -1; }
    bool Shown() const { return PaintsAtList >= 0 && Paints > PaintsAtList; }
    // Runs the event loop until the list is shown (the paint itself ends the wait).
    bool WaitShown(int timeoutMs = 60000) {
        if (Shown()) return true;
        QEventLoop loop;
        FLoop = &loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        loop.exec();
        FLoop = nullptr;
        return Shown();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint) {
            ++Paints;
            // Quit once the paint is over: the filter runs before it.
            if (FLoop && PaintsAtList >= 0) QTimer::singleShot(0, FLoop, &QEventLoop::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QEventLoop *FLoop = nullptr;
};
