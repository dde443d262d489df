// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The Connection Reconstruction View: the conversations in the traffic and the
// selected one's payload as text, live in arrival order, and on request (once the
// capture is stopped) each direction reassembled in sequence order in two more
// panes, backward on the left.
//
// Filing works as in the connection packet view (ConnectionFeed). Sorting the
// packets into their directions reads the packet lists the capture appends to, so
// it waits for a stopped capture and runs under the view's mutex.

#include "views/packets/connectionwindow.h"

class ControlPanel;
class QSplitter;
class WideASCIIScrollView;

class TestListView : public ConnectionWindow {
    Q_OBJECT
public:
    enum MenuId { IdLock = 10000, IdClear = 10003, IdUnlock = 10004, IdUpdate = 10005, IdRecon = 10006 };

    explicit TestListView(ControlPanel* controller, QWidget* parent = nullptr, const char* name = nullptr);
    ~TestListView() override;

    // Builds the reconstruction panes if needed and sorts every connection's new packets.
    void addNewRecon();

    WideASCIIScrollView* livePane() const { return m_live; }
    WideASCIIScrollView* backwardPane() const { return m_backward; }  // null until built
    WideASCIIScrollView* forwardPane() const { return m_forward; }
    QSplitter* outerSplitter() const { return m_outer; }
    QSplitter* paneSplitter() const { return m_panes; }
    bool isReconstructionBuilt() const { return m_reconBuilt; }

    bool DisplayFilterChanged(bool inForce) override;

public slots:
    void slotConnectionChanged() override;
    void slotReconView();
    void slotRefreshView();
    void slotClearView();
    void showLinkedPacket(const CPacket* packet, const QObject* source) override;

private:
    void initMenuBar();
    void showConnection(Connection* connection, bool sortedToo);

    ControlPanel* m_controller;
    WideASCIIScrollView* m_live;
    WideASCIIScrollView* m_backward = nullptr;
    WideASCIIScrollView* m_forward = nullptr;
    QSplitter* m_outer;
    QSplitter* m_panes = nullptr;
    bool m_reconBuilt = false;
};

// Asks the user to stop a running capture before reconstruction, then reconstructs.
class showStop {
public:
    showStop(ControlPanel* controller, TestListView* view) : m_controller(controller), m_view(view) {}
    void exec();

private:
    ControlPanel* m_controller;
    TestListView* m_view;
};
