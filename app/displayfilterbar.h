// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window's display filter bar: an expression field with the recent
// expressions, Clear, and a progress bar while the views are fed again. An
// expression is compiled by libpcap in a child process (as the capture filter is);
// a wrong one turns the field red with libpcap's message and changes nothing.

#include "capture/controlpanel.h"

#include <QToolBar>

#include <memory>

class FilterCompileChild;
class QComboBox;
class QProgressBar;
class QSocketNotifier;

class DisplayFilterBar : public QToolBar {
    Q_OBJECT
public:
    explicit DisplayFilterBar(QWidget* parent = nullptr);
    ~DisplayFilterBar() override;

    QComboBox* field() const { return m_field; }
    QProgressBar* progressBar() const { return m_progress; }
    // The expression in force ("" when none) and libpcap's complaint about the last
    // expression refused ("" when it was accepted).
    QString inForce() const { return m_inForce; }
    QString refusal() const { return m_refusal; }
    bool isChecking() const;

    void showProgress(const DisplayProgress& progress);

public slots:
    // Checks `text` and, once libpcap compiled it, asks for it (empty: clears).
    void apply(const QString& text);
    void clear();

signals:
    // A display filter to set; null shows every packet.
    void filterChosen(std::shared_ptr<const DisplayFilter> filter);
    // libpcap refused an expression.
    void filterRefused(const QString& message);

private:
    void takeVerdict();
    void stopCheck();
    void remember(const QString& text);
    void markRefused(const QString& message);

    QComboBox* m_field;
    QProgressBar* m_progress;
    std::unique_ptr<FilterCompileChild> m_child;
    QSocketNotifier* m_notifier = nullptr;
    QString m_checking;
    QString m_inForce;
    QString m_refusal;
};
