#include "link/devicelink.h"

#include "common/failure.h"
#include "serial/vacomm.h"

namespace ormelin {

DeviceLink::DeviceLink(TVaComm &comm, ObjectList &list, OperatorUi &ui, QObject *parent)
    : QObject(parent)
    , m_comm(comm)
    , m_sink(comm)
    , m_source(comm)
    , m_controller(
          comm, m_sink, m_source, list, ui, m_state, m_reply, m_responseTimer, m_pacingTimer)
    , m_writer(comm, m_sink, list, ui, m_state, m_controller, m_payload, m_picture, m_responseTimer,
          m_pacingTimer)
{
    // A failure inside a timer's handler is reported and leaves the timer as it was.
    connect(&m_responseTimer, &NonRestartingTimer::expired, this,
        [this] { guarded([this] { m_controller.onResponseTimerExpiry(); }); });
    connect(&m_pacingTimer, &NonRestartingTimer::expired, this, [this] {
        guarded([this] {
            m_pacingTimer.stop();
            m_writer.uploadStep();
        });
    });
    connect(&m_controller, &LinkController::uploadSettled, this,
        [this] { guarded([this] { m_writer.onUploadSettled(); }); });
    m_comm.OnRxChar = [this](int32_t count) { m_controller.onBytesReceived(count); };
    m_comm.OnTxEmpty = [this] { m_controller.onTransmitQueueEmpty(); };
}

DeviceLink::~DeviceLink()
{
    // The component may outlive the link; it must not call into a destroyed controller.
    m_comm.OnRxChar = nullptr;
    m_comm.OnTxEmpty = nullptr;
}

void configureCommForTarviks(TVaComm &comm)
{
    comm.SetBaudrate(TVaBaudrate::brUser);
    comm.SetStopbits(TVaStopbits::sb2);
    comm.SetFlowControl(TVaFlowControl {});
    comm.SetPortNum(3);
    comm.SetDeviceName(QStringLiteral("COM3"));
    TVaBuffers buffers = comm.Buffers();
    buffers.ReadSize = 2048;
    buffers.WriteSize = kLargestUploadBytes;
    comm.SetBuffers(buffers);
    comm.SetUserBaudrate(250000);
}

} // namespace ormelin
