#pragma once
// A window with a numeric field and a second field to move the focus to; the field's questions
// are answered through its question handler (recorded, answered with FAnswer).
#include "CompFloatEdit.h"

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtTest/QtTest>
#include <functional>
#include <memory>

class TFloatEditFixture {
protected:
    struct TQuestion {
        QString Caption;
        QString Text;
    };

    std::unique_ptr<QWidget> FForm;
    TFloatEdit *FEdit = nullptr;
    QLineEdit *FOther = nullptr;
    QList<TQuestion> FQuestions;
    bool FAnswer = false;
    std::function<void()> FWhileAsking;
    int FValidations = 0;
    QObject *FLastSender = nullptr;

    void InstallQuestionHandler() {
        TFloatEdit::SetQuestionHandler([this](QWidget *, const QString &caption, const QString &text) {
            FQuestions.append({caption, text});
            if (FWhileAsking) FWhileAsking();
            return FAnswer;
        });
    }

    // Returns false when the window could not be shown and focused.
    bool OpenForm() {
        QLocale::setDefault(QLocale::c());
        FForm = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(FForm.get());
        FEdit = new TFloatEdit(FForm.get());
        FOther = new QLineEdit(FForm.get());
        layout->addWidget(FEdit);
        layout->addWidget(FOther);
        FForm->show();
        FForm->activateWindow();
        if (!QTest::qWaitForWindowActive(FForm.get())) return false;
        FEdit->setFocus();
        FQuestions.clear();
        FAnswer = false;
        FWhileAsking = nullptr;
        FValidations = 0;
        FLastSender = nullptr;
        FEdit->OnValidate = [this](QObject *sender) {
            FLastSender = sender;
            ++FValidations;
        };
        return FEdit->hasFocus();
    }

    void CloseForm() {
        FForm.reset();
        QLocale::setDefault(QLocale::c());
    }

    void Type(const QString &text) {
        FEdit->setFocus();
        FEdit->selectAll();
        QTest::keyClick(FEdit, Qt::Key_Delete);
        QTest::keyClicks(FEdit, text);
    }
    void PressEnter() { QTest::keyClick(FEdit, Qt::Key_Return); }
    void Wheel(int delta) {
        const QPointF pos(FEdit->width() / 2.0, FEdit->height() / 2.0);
        QWheelEvent event(pos, FEdit->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(FEdit, &event);
    }
};
