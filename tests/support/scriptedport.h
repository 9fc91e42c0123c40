#pragma once
// A port for the link that the test drives: it records every byte the link queues, and delivers
// transmit-empty, received bytes and the device's going only when the test says so, the way the
// serial component would have delivered them at that moment. Opening succeeds unless the test
// has named a device that is to fail.
#include "link/commport.h"
#include "serial/commerror.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstring>

class ScriptedPort final : public ormelin::CommPort
{
public:
    QByteArray sent; // every byte queued, in order
    QStringList failingDevices; // Open of these names fails
    bool gone = false;

    // The serial component's events, as it would deliver them.
    void transmitEmpty()
    {
        if (m_events.transmitEmpty)
            m_events.transmitEmpty();
    }
    void receive(const QByteArray &bytes)
    {
        m_input += bytes;
        if (m_open && m_events.received && !m_input.isEmpty())
            m_events.received(int32_t(m_input.size()));
    }
    void loseDevice()
    {
        gone = true;
        if (m_events.deviceGone)
            m_events.deviceGone();
    }

    void setEvents(Events events) override { m_events = std::move(events); }
    bool IsOpen() const override { return m_open; }
    void SetDeviceName(const QString &name) override { m_name = name; }
    QString DeviceName() const override { return m_name; }
    void Open() override
    {
        if (failingDevices.contains(m_name))
            throw ormelin::EVaCommError(
                QStringLiteral("Specified device not found (%1).").arg(m_name));
        m_open = true;
        gone = false;
    }
    void Close() override { m_open = false; }
    void PurgeAll() override { m_input.clear(); }
    bool hungUp() const override { return m_open && gone; }
    double lineBytesPerSecond() const override { return 22727.0; }

    bool WriteByte(uint8_t byte) override { return WriteBytes(&byte, 1) == 1; }
    int32_t WriteBytes(const void *bytes, int32_t count) override
    {
        if (!m_open)
            return 0;
        if (gone)
            throw ormelin::EVaCommError(QStringLiteral("Write error (5), Input/output error"));
        sent.append(static_cast<const char *>(bytes), count);
        return count;
    }
    int32_t ReadBytes(void *dest, int32_t count) override
    {
        const int32_t n = std::min<int32_t>(count, int32_t(m_input.size()));
        std::memcpy(dest, m_input.constData(), size_t(n));
        m_input.remove(0, n);
        return n;
    }

private:
    Events m_events;
    QByteArray m_input;
    QString m_name;
    bool m_open = false;
};
