// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The socket selection dialog: lists the machine's active sockets as the
// socket-listing helper reports them and turns the chosen ones into the capture
// expression.

#include "capture/handoff.h"
#include "capture/sockinfo.h"

#include <QWidget>

#include <memory>

class QPushButton;
class QTreeWidget;
class SockReader;

class SelectSockets : public QWidget {
    Q_OBJECT
public:
    // Shows itself, starts collecting and asks the socket child for a listing.
    explicit SelectSockets(QWidget* parent = nullptr, const char* name = nullptr);
    ~SelectSockets() override;

    QTreeWidget* list() const { return m_list; }
    QPushButton* refreshButton() const { return m_refresh; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }
    bool isCollecting() const;

public slots:
    void OK();
    void Cancel();
    void slotRefresh();

public:
    void GenExpression();
    void addConnection(const SockInfo* info);
    void CleanPipe();
    void stopthread();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void stopCollecting();

    QTreeWidget* m_list;
    QPushButton* m_refresh;
    QPushButton* m_ok;
    QPushButton* m_cancel;
    HandoffQueue<SockInfo>* m_arrivals;
    std::unique_ptr<SockReader> m_reader;
};
