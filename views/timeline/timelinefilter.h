// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The host filter dialog: the user lists end points (address and port) that the time
// line may show, in the order of its lines. "Ok" accepts and "Cancel" rejects; the
// caller takes the rows after "Ok".

#include "views/timeline/timelinemodel.h"

#include <QDialog>

#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

class TimeLineFilter : public QDialog {
    Q_OBJECT
public:
    explicit TimeLineFilter(QWidget* parent = nullptr, const char* name = nullptr, bool modal = true);

    // The rows from the first, each as an end point label.
    std::vector<HostTimeLine> GetHostAddr() const;
    // One row per end point of `hosts` (the filter in force), in its order.
    void setHostAddr(const std::vector<HostTimeLine>& hosts);

    QTreeWidget* hostList() const { return m_hostList; }
    QLineEdit* addressEdit() const { return m_txtIPAddr; }
    QLineEdit* portEdit() const { return m_txtPortNum; }

public slots:
    void addOneHost();
    void delOneHost();

private:
    void fitAddressColumn();
    QTreeWidget* m_hostList;
    QLineEdit* m_txtIPAddr;
    QLineEdit* m_txtPortNum;
};
