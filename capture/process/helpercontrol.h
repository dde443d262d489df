// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The capture side's hold on the helper programs. At start-up the process model
// (process.h) forks a launcher child that runs the capture helper and a socket
// child that runs the socket-listing helper, and links them to the GUI by pipes;
// the controller and the socket dialog reach the helpers through these calls only.
// Where no children were started (nukdump, tests that play the GUI with pipes of
// their own) the orders to the children do nothing.

#include <cstdint>
#include <string>

namespace helpercontrol {

// When a capture helper the launcher started ends with a failure, the launcher adds
// a line of its own to the error pipe: this byte, then "exit N" or "signal N".
// No helper writes it: its text is printable lines.
constexpr char kHelperFailedMark = '\x01';

// What the process that becomes the capture helper reads before it executes it.
struct CaptureParameters {
    std::string expression;  // tcpdump filter syntax
    std::string fileName;    // the trace to replay; empty for none
    std::int32_t deviceFlag = 0;
    std::int32_t opMode = 0;
};

// Read end of the packet records the capture helper writes; -1 when there is none.
int packetPipe();
// Read end of the capture helper's standard error and the launcher's failure lines.
int errorPipe();

// Throws away a parameter block an earlier start wrote but never used.
void discardParameters();
// Hands the parameters to the next capture helper without ever blocking. False
// when they could not be written whole.
bool sendParameters(const CaptureParameters& parameters);
// The launcher starts a capture helper with the parameters sent last, or stops the
// running one. Each returns once the launcher has taken the order, so that the
// next one can neither merge with it nor overtake it.
void startCaptureHelper();
void stopCaptureHelper();
// A stopped capture helper ends on its own time and may write records until it is
// gone. Waits (at most a second) for that.
void waitForCaptureHelperExit();
bool captureHelperRunning();

// Read end of the records the socket-listing helper writes; -1 when there is none.
int socketPipe();
// Starts a socket listing; returns once the socket child has taken the order (a
// Refresh sends a stop and a start back to back).
void startSocketListing();
// Stops the socket-listing helper and waits (at most a second) until it is gone, so
// that no record of it follows a drain of the socket pipe.
void stopSocketListing();

}  // namespace helpercontrol
