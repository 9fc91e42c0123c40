#pragma once
#include <QString>

namespace ormelin::serialdetail {

// The device name from its template and the port number, the way the program's format routine
// does it: "%d", "%u" and "%x" (with index, "-", width and precision, "*" taking the argument) and
// "%%". A template that wants another kind of argument, or more than the one number, throws
// ormelin::Failure naming the template. A name without placeholders comes out unchanged.
QString formatDeviceName(const QString &nameTemplate, int portNumber);

// The folder the system keeps its device nodes in.
inline constexpr char kSystemDeviceFolder[] = "/dev";

// Where a device name lives: a name that starts with "/" is a path as it stands; "COM<n>"
// (n >= 1) is the n-th serial port, ttyS<n-1> in the device folder; any other name is looked up
// in the device folder ("ttyUSB0", "pts/3"), never relative to the current folder.
QString devicePathFor(const QString &deviceName, const QString &deviceFolder);

} // namespace ormelin::serialdetail
