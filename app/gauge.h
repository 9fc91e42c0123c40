#pragma once
#include <QWidget>

namespace ormelin {

// The write-to-flash gauge: a maroon bar on white with the share done written over it, the way
// the operators know it from the original tool (a styled QProgressBar would follow the desktop
// theme instead).
class ProgressGauge : public QWidget
{
    Q_OBJECT
public:
    explicit ProgressGauge(QWidget *parent = nullptr);

    void setMaximum(int maximum);
    void setProgress(int progress);
    int maximum() const { return m_maximum; }
    int progress() const { return m_progress; }
    // 100 x progress / maximum, truncated; 0 while the maximum is 0.
    int percent() const;
    QString text() const;

    static inline const QColor kBarColour { 0x80, 0x00, 0x00 };

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_maximum = 100;
    int m_progress = 0;
};

} // namespace ormelin
