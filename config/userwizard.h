// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The user wizard: data source, trace file, filter, views and start mode (and,
// for active sockets, the socket selection); Finish creates the ticked views,
// registers them with the controller and starts the capture.

#include "config/filter.h"
#include "config/selectsockets.h"
#include "capture/viewkind.h"

#include <QPointer>
#include <QWizard>

#include <functional>

class CTimeBasedView;
class ControlPanel;
class QCheckBox;
class QLineEdit;
class QRadioButton;
class QToolButton;
class WizardStepPage;

class userwizard : public QWizard {
    Q_OBJECT
public:
    enum PageId { SourcePage, FilePage, FilterPage, ViewPage, StartPage, SocketPage };
    enum class Source { None, DiskFile, Realtime, ActiveSockets, Application };

    using ViewCreator = std::function<CTimeBasedView*(ViewKind, const QString& objectName, ControlPanel*)>;
    using Starter = std::function<void(ControlPanel*)>;

    explicit userwizard(QWidget* parent = nullptr, const char* name = nullptr, bool modal = false,
                        Qt::WindowFlags flags = {});
    ~userwizard() override;

    void setControlPanel(ControlPanel* controller);
    // Starts with "Disk File" chosen and `fileName` picked, as after getfile.
    void preselectTraceFile(const QString& fileName);

    // Seams for Finish: how views are made and how the capture is started.
    void setViewCreator(ViewCreator creator) { m_createView = std::move(creator); }
    void setStarter(Starter starter) { m_start = std::move(starter); }

    int nextId() const override;
    void accept() override;
    void reject() override;

    Source source() const { return m_source; }
    bool isFinished() const { return m_finished; }
    bool takesPart(int id) const;
    CTimeBasedView* reconstructionView() const { return m_reconView; }
    Filter* lastFilterDialog() const { return m_filterDialog; }
    SelectSockets* lastSocketDialog() const { return m_sockDialog; }

    // Controls, for tests and screenshots.
    QRadioButton* sourceButton(Source source) const;
    QCheckBox* viewBox(ViewKind kind) const;
    QRadioButton* stepModeButton() const { return m_stepButton; }
    QRadioButton* nonStepModeButton() const { return m_nonStepButton; }
    QLineEdit* fileNameField() const { return m_fileName; }
    QToolButton* fileButton() const { return m_fileButton; }
    QToolButton* filterButton() const { return m_filterButton; }
    QToolButton* socketButton() const { return m_socketButton; }

public slots:
    void fromfile();
    void realtime();
    void fromsock();
    void getfile();
    void newTopology();
    void finish();
    void newCon();
    void newTimeLine();
    void newRecon();
    void newPacketList();
    void newTCPstat();
    void startIt();
    void stepIt();
    void getfilter();
    void getsock();
    void fromApp();

private:
    void chooseSource(Source source, int opMode);
    void ensureStepPages();
    void refreshButtons();
    void acceptFileName(const QString& fileName);
    void setupPage0();
    void setupPage1();
    void setupPage2();
    void setupPage3();
    void setupPage4();
    void setupPage5();

    // The filter in force before this run; a wizard given up puts it back.
    QString m_previousExpression;
    int m_previousDevice = 0;

    Source m_source = Source::None;
    bool m_fileChosen = false;
    bool m_finished = false;
    bool m_stepMode = false;

    // View flags, in check box order.
    bool m_topology = false;
    bool m_tcpState = false;
    bool m_recon = false;
    bool m_packetList = true;
    bool m_timeLine = false;
    bool m_connection = false;

    ControlPanel* m_controller = nullptr;
    QPointer<SelectSockets> m_sockDialog;
    QPointer<Filter> m_filterDialog;
    CTimeBasedView* m_reconView = nullptr;
    ViewCreator m_createView;
    Starter m_start;

    QRadioButton* m_sourceButtons[4] = {};
    QLineEdit* m_fileName = nullptr;
    QToolButton* m_fileButton = nullptr;
    QToolButton* m_filterButton = nullptr;
    QToolButton* m_socketButton = nullptr;
    QCheckBox* m_topologyBox = nullptr;
    QCheckBox* m_reconBox = nullptr;
    QCheckBox* m_packetListBox = nullptr;
    QCheckBox* m_timeLineBox = nullptr;
    QCheckBox* m_tcpStateBox = nullptr;
    QCheckBox* m_connectionBox = nullptr;
    QRadioButton* m_nonStepButton = nullptr;
    QRadioButton* m_stepButton = nullptr;
};
