#pragma once
#include <QObject>
#include <QTimer>
#include <chrono>

namespace ormelin {

// The link's timers act once per start, and starting one that is already running must not push
// its expiry back: a stream of transmit-empty events during a long payload would otherwise keep
// deferring the response timeout. QTimer::start() restarts, so every start goes through here.
// The timers are precise: a coarse one may expire up to 5% early, which would cut the
// controller's 300 ms short.
class NonRestartingTimer : public QObject
{
    Q_OBJECT
public:
    explicit NonRestartingTimer(std::chrono::milliseconds interval, QObject *parent = nullptr)
        : QObject(parent)
    {
        m_timer.setSingleShot(true);
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(interval);
        connect(&m_timer, &QTimer::timeout, this, &NonRestartingTimer::expired);
    }

    void start()
    {
        if (!m_timer.isActive())
            m_timer.start();
    }
    void stop() { m_timer.stop(); }
    bool isActive() const { return m_timer.isActive(); }
    std::chrono::milliseconds interval() const { return m_timer.intervalAsDuration(); }

signals:
    void expired();

private:
    QTimer m_timer;
};

} // namespace ormelin
