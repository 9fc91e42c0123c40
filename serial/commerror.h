#pragma once
#include "common/failure.h"

#include <QString>

namespace ormelin {

// The serial component's failure. It carries only its text: the English messages below, with the
// platform's error code and text put in where the message has room for them.
class EVaCommError : public Failure
{
public:
    using Failure::Failure;
};

namespace serialdetail {

// The component's messages, byte for byte. "%d" takes an error code, "%s" a text.
inline constexpr char kPortIsOpen[] = "Can't perform this operation while port is open";
inline constexpr char kDeviceNotFound[] = "Specified device not found (%s).";
inline constexpr char kCantOpenDevice[] = "Can't open specified device %s (Error %d, %s)";
inline constexpr char kWritingDcb[] = "Error writing dcb (%d), %s";
inline constexpr char kInitializingBuffers[] = "Error initializing buffers (%d), %s";
inline constexpr char kSettingEventMask[] = " Error setting EventMask (%d), %s";
inline constexpr char kClearingBuffers[] = "Error clearing buffers (%d), %s";
inline constexpr char kCallingCommFunction[] = "Error calling comm function (%d), %s";
inline constexpr char kRetrievingStatistics[] = "Error retrieving statistics (%d), %s";
inline constexpr char kReadError[] = "Read error (%d), %s";
inline constexpr char kWriteError[] = "Write error (%d), %s";
inline constexpr char kOutputBufferFull[] = "Output buffer is full. Please check comm status.";
inline constexpr char kDtrHandshake[]
    = "DTR line updates not allowed when flowcontrol is set to Handshake.";
inline constexpr char kRtsHandshake[]
    = "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.";

// The system's text for an error code, without the trailing blanks, control characters and full
// stops that would spoil the sentence it is put into.
QString systemErrorText(int errorCode);

// A message with its code and system text put in ("Error writing dcb (22), Invalid argument").
EVaCommError commError(const char *message, int errorCode);

// The failure of opening the named device: "not found" for a missing node, otherwise "can't open"
// with the code. The name goes in as typed and is never read as a template itself.
EVaCommError openError(const QString &deviceName, int errorCode);

// Codes with which a port answers once its device has gone (adapter pulled, far end of a
// pseudo-terminal closed).
bool isDeviceGone(int errorCode);

} // namespace serialdetail
} // namespace ormelin
