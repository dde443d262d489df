// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The interface every analysis view offers the capture controller.
// Views derive from their widget class first and from CTimeBasedView second.

class CPacket;

class CTimeBasedView {
public:
    virtual ~CTimeBasedView() = default;
    // Called once, on the GUI thread, when the view is registered.
    virtual void InitiateView() {}
    // Called on the GUI thread at every refresh tick.
    virtual void UpdateView() {}
    // Called on the reader thread for every packet, in arrival order. Must not
    // touch widgets: hand what must be shown to the GUI thread (see HandoffQueue).
    virtual void AddPacket(CPacket*) {}
    // Called on the GUI thread when a display filter is set or cleared (`inForce`:
    // one is set now). A view that is not locked empties itself as "Clear View"
    // does and returns true: the controller feeds it again with the packets that
    // match. A locked view keeps what it shows and returns false.
    virtual bool DisplayFilterChanged(bool inForce) { (void)inForce; return false; }
};
