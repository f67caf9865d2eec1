// The main window and the test history window: opened from the window's button, created on
// first use, closed and freed with the main window.
#include "uFormTamrel.h"
#include "uFormTestHistory.h"

void TFormTamrel::ButtonTestHistoryClick() {
    if (!FormTestHistory) FormTestHistory = new TFormTestHistory(this);
    FormTestHistory->show();
    FormTestHistory->raise();
    FormTestHistory->activateWindow();
}
