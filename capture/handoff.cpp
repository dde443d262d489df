#include "capture/handoff.h"

#include <QMetaObject>

void HandoffBase::postWakeup()
{
    if (m_wakePosted.exchange(true))
        return;
    // The queue object is the context: if it is destroyed first, the call is dropped.
    QMetaObject::invokeMethod(this, [this] { drainSlice(); }, Qt::QueuedConnection);
}
