// The main window and the test history window: opened from the window's button, created on
// first use, closed and freed with the main window.
#include "uFormTamrel.h"
#include "uFormTestHistory.h"
#include "uTestRecordStore.h"

void TFormTamrel::ButtonTestHistoryClick() {
    if (!FormTestHistory) {
        FormTestHistory = new TFormTestHistory(this);
        // The history reads the very store the sweeps write to (the server with its queue when
        // one is set), so a record it lists is the record that was kept.
        FormTestHistory->WorkerSource = [this] { return RecordWorker(); };
        FormTestHistory->StoreFolder = RecordFolder;
        // A record stored while the history is open shows in it at once; a hook set before
        // keeps running first.
        OnRecordStored = [this, previous = OnRecordStored](const TTestRecord &record) {
            if (previous) previous(record);
            if (FormTestHistory && FormTestHistory->isVisible()) FormTestHistory->Refresh();
        };
    }
    FormTestHistory->show();
    FormTestHistory->raise();
    FormTestHistory->activateWindow();
}
