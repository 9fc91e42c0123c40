#pragma once
#include <QString>

namespace ormelin::serialdetail {

// The device name from its template and the port number, the way the program's format routine
// does it: "%d", "%u" and "%x" (with index, "-", width and precision, "*" taking the argument) and
// "%%". A template that wants another kind of argument, or more than the one number, throws
// ormelin::Failure naming the template. A name without placeholders comes out unchanged.
QString formatDeviceName(const QString &nameTemplate, int portNumber);

// Where a device name lives on this system: a name with "/" is a path already; "COM<n>" (n >= 1)
// is the n-th serial port, /dev/ttyS<n-1>; anything else is a node in /dev ("ttyUSB0").
QString devicePathFor(const QString &deviceName);

} // namespace ormelin::serialdetail
