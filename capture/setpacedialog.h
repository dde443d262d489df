// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The pace dialog: sets how many milliseconds of display time one millisecond of
// network time takes (g_TimeDelayRatio, through g_Scheduler.SetPace).
// Created once by the main window and shown again on every request, so it keeps
// the last value.

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class SetPaceDialog : public QWidget {
    Q_OBJECT
public:
    explicit SetPaceDialog(QWidget* parent = nullptr);

    QLineEdit* paceEdit() const { return m_pPaceEdit; }
    QSlider* paceSlider() const { return m_pSlider; }

public slots:
    void Changed(int value);
    void Typed(const QString& text);
    void OK();
    void Cancel();

private:
    int m_nPace = 1;
    QGroupBox* m_pRatioGroup;
    QLineEdit* m_pPaceEdit;
    QSlider* m_pSlider;
    QLabel* m_pUsage;
    QPushButton* m_pOkButton;
    QPushButton* m_pCancelButton;
};
