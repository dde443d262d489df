// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main window: a narrow strip with menus, two tool bars and a status bar. It
// owns the capture controller, opens the user wizard and the views, starts, steps
// and stops captures, and saves the trace.

#include "capture/controlpanel.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class CaptureStatus;
class CPacket;
class DisplayFilterBar;
class Filter;
class QLabel;
class NUKDoc;
class NUKView;
class QMenu;
class QToolBar;
class SetPaceDialog;
enum class ViewKind;

// Menu entry identifiers, kept in each QAction's data().
enum NukMenuId {
    ID_FILE_WIZARD = 10008,
    ID_FILE_SAVE_AS = 10002,
    ID_FILE_SAVE_DISPLAYED = 10003,
    ID_FILE_QUIT = 10005,
    ID_CONTROL_START = 10101,
    ID_CONTROL_START_STEP = 10110,
    ID_CONTROL_STOP = 10103,
    ID_CONTROL_STEP = 10105,
    ID_CONTROL_PACE = 10109,
    ID_CONTROL_DISPLAY_FILTER = 10111,
    ID_WINDOW_PACKET_LIST = 10201,
    ID_WINDOW_TOPOLOGY = 10202,
    ID_WINDOW_STREAM_LINK = 10203,
    ID_WINDOW_TIME_LINE = 10204,
    ID_WINDOW_TCP_STATUS = 10205,
    ID_WINDOW_RECONSTRUCTION = 10206,
    ID_WINDOW_LINK_VIEWS = 10207,
    ID_HELP_ABOUT = 1002,
};

class NUK : public QMainWindow, public ControlPanelUi {
    Q_OBJECT
public:
    // `traceFile`, when not empty, is handed to the first user wizard.
    explicit NUK(const QString& traceFile = QString());
    ~NUK() override;

    ControlPanel* controller() const { return m_pControlPanel.get(); }
    NUKDoc* document() const { return m_pDoc; }
    SetPaceDialog* paceDialog() const;
    QWidget* currentWizard() const { return m_pWizard; }
    CaptureStatus* captureStatus() const { return m_pCaptureStatus; }
    DisplayFilterBar* displayFilterBar() const { return m_pDisplayFilterBar; }
    QLabel* displayFilterStatus() const { return m_pDisplayStatus; }
    QWidget* displayFilterDialog() const;

    // ControlPanelUi
    void showMessage(const QString& title, const QString& text) override;
    void showStatus(const QString& text) override;
    void showProgress(const CaptureProgress& progress) override;
    void showDisplayProgress(const DisplayProgress& progress) override;

public slots:
    void slotUserWizard();
    void slotFileSaveAs();
    void slotFileSaveDisplayedAs();
    void slotFileQuit();
    void slotStartPlay();
    void slotStartStep();
    void slotStopPlay();
    void slotStepPlay();
    void slotSetDisplayPace();
    void slotDisplayFilter();
    void slotNewPacketListView();
    void slotNewTopologyView();
    void slotNewStreamLinkView();
    void slotNewTimeLineView();
    void slotNewTCPStatusView();
    void slotNewReconstructionView();
    void slotHelpAbout();
    // Selecting a packet in one view shows it in the others ("Link Views").
    void slotLinkViews(bool linked);
    // The TCP state diagram (opened if none is) follows the connection of `packet`.
    void slotFollowInTcpStateDiagram(const CPacket* packet);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void initMenuBar();
    void initToolBar();
    void initStatusBar();
    bool openWizard(const QString& traceFile);
    void openView(ViewKind kind, const QString& objectName, const QString& typeName);
    void shutDown();

    NUKView* m_pView = nullptr;
    NUKDoc* m_pDoc = nullptr;
    QMenu* m_pFileMenu = nullptr;
    QMenu* m_pControlMenu = nullptr;
    QMenu* m_pWindowMenu = nullptr;
    QMenu* m_pHelpMenu = nullptr;
    QPointer<SetPaceDialog> m_pPaceDialog;
    QToolBar* m_pFileToolbar = nullptr;
    QToolBar* m_pViewToolbar = nullptr;
    CaptureStatus* m_pCaptureStatus = nullptr;
    DisplayFilterBar* m_pDisplayFilterBar = nullptr;
    QLabel* m_pDisplayStatus = nullptr;
    QPointer<Filter> m_pDisplayFilterDialog;
    std::unique_ptr<ControlPanel> m_pControlPanel;
    QPointer<QWidget> m_pWizard;
    QList<QPointer<QWidget>> m_wizards;  // every wizard opened, destroyed with the window
    bool m_bShutDown = false;
};
