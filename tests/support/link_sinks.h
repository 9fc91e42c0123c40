#pragma once
// A frame sink for tests that records every call: which bytes came through WriteByte and which
// through one WriteBytes, in order. shape() writes the calls as a compact string ("B" for each
// WriteByte, "T<n>" for a WriteBytes of n bytes) so a test can state a frame's calling pattern
// in one line.
#include "link/protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class CaptureSink : public ormelin::proto::FrameSink
{
public:
    struct Call
    {
        bool block; // true: one WriteBytes call
        QByteArray bytes;
    };

    QList<Call> calls;

    bool WriteByte(uint8_t byte) override
    {
        calls.append({ false, QByteArray(1, char(byte)) });
        return true;
    }

    int32_t WriteBytes(const void *bytes, int32_t count) override
    {
        calls.append({ true, QByteArray(static_cast<const char *>(bytes), count) });
        return count;
    }

    QByteArray bytes() const
    {
        QByteArray all;
        for (const Call &c : calls)
            all += c.bytes;
        return all;
    }

    QString shape() const
    {
        QStringList parts;
        for (const Call &c : calls)
            parts << (c.block ? QStringLiteral("T%1").arg(c.bytes.size()) : QStringLiteral("B"));
        return parts.join(QLatin1Char(' '));
    }

    void clear() { calls.clear(); }
};
