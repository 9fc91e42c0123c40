#include "app/gauge.h"

#include <QPainter>

namespace ormelin {

ProgressGauge::ProgressGauge(QWidget *parent)
    : QWidget(parent)
{
}

void ProgressGauge::setMaximum(int maximum)
{
    m_maximum = maximum;
    update();
}

void ProgressGauge::setProgress(int progress)
{
    m_progress = progress;
    update();
}

int ProgressGauge::percent() const
{
    if (m_maximum <= 0)
        return 0;
    return int(qint64(100) * m_progress / m_maximum);
}

QString ProgressGauge::text() const
{
    return QString::asprintf("%d%%", percent());
}

void ProgressGauge::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    p.fillRect(rect(), Qt::white);
    const int share = std::clamp(percent(), 0, 100);
    const QRect bar(1, 1, (width() - 2) * share / 100, height() - 2);
    p.fillRect(bar, kBarColour);
    p.setPen(Qt::gray);
    p.drawRect(frame);

    // The percentage reads white over the bar and maroon over the white part.
    const QString label = text();
    p.save();
    p.setClipRect(bar);
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignCenter, label);
    p.restore();
    p.save();
    p.setClipRegion(QRegion(rect()).subtracted(QRegion(bar)));
    p.setPen(kBarColour);
    p.drawText(rect(), Qt::AlignCenter, label);
    p.restore();
}

} // namespace ormelin
