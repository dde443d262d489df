#include "capture/controlpanel.h"

#include "app/process.h"
#include "capture/cpacket.h"
#include "capture/settings.h"

#include <QTimer>

#include <unistd.h>

QMap<CTimeBasedView*, int> m_View2MenuID;
QMap<int, CTimeBasedView*> m_MenuID2View;
QMap<QString, int> m_TypeName2TotalNum;

namespace {
std::recursive_mutex& registryMutex()
{
    static std::recursive_mutex m;
    return m;
}
}  // namespace

void RemoveView(CTimeBasedView* view)
{
    {
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        const int id = m_View2MenuID.value(view, 0);
        m_MenuID2View.remove(id);
        m_View2MenuID.remove(view);
    }
    if (QObject* object = dynamic_cast<QObject*>(view))
        object->deleteLater();
    else
        delete view;
}

ControlPanel::ControlPanel(ControlPanelUi* ui) : m_pUi(ui)
{
    m_pTimer = new QTimer(this);
    connect(m_pTimer, &QTimer::timeout, this, &ControlPanel::UpdateView);
    g_TimeDelayRatio = 1.0f;
    g_bStepIt = false;
    g_bPureStepMode = false;
}

ControlPanel::~ControlPanel() = default;

void ControlPanel::Start() {}
void ControlPanel::Stop() {}
void ControlPanel::CleanPipe() {}

void ControlPanel::AddView(CTimeBasedView* view, const QString& typeName)
{
    {
        std::lock_guard<std::recursive_mutex> lock(registryMutex());
        m_TypeName2TotalNum[typeName] = m_TypeName2TotalNum.value(typeName, 0) + 1;
        const int id = 30000 + m_nViewCount++;
        m_MenuID2View.insert(id, view);
        m_View2MenuID.insert(view, id);
    }
    view->InitiateView();
}

void ControlPanel::AddPacket(CPacket* packet)
{
    {
        std::lock_guard<std::mutex> lock(m_packetMutex);
        m_PacketList.emplace_back(packet);
    }
    std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto it = m_View2MenuID.cbegin(); it != m_View2MenuID.cend(); ++it)
        it.key()->AddPacket(packet);
}

void ControlPanel::UpdateView()
{
    std::lock_guard<std::recursive_mutex> lock(registryMutex());
    for (auto it = m_View2MenuID.cbegin(); it != m_View2MenuID.cend(); ++it)
        it.key()->UpdateView();
}

std::size_t ControlPanel::packetCount() const
{
    std::lock_guard<std::mutex> lock(m_packetMutex);
    return m_PacketList.size();
}

QString setNukFileName()
{
    char name[4096];
    nukAppFile = nukTempFileName(name, sizeof name, "_NukAppSockFile") ? QString::fromLocal8Bit(name) : QString();
    return nukAppFile;
}
