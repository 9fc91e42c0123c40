#include "app/anchors.h"

namespace ormelin {

void AnchorLayout::place(QWidget *widget, QRect designGeometry, Anchors anchors)
{
    widget->setGeometry(designGeometry);
    m_items.append(Item { widget, designGeometry, anchors });
}

QRect AnchorLayout::arrange(QRect design, Anchors anchors, QSize designSize, QSize clientSize)
{
    const int dw = clientSize.width() - designSize.width();
    const int dh = clientSize.height() - designSize.height();
    QRect r = design;
    // Anchored to both opposite edges: stretch; to the far edge only: move; else stay.
    if (anchors.testFlag(Anchor::Right)) {
        if (anchors.testFlag(Anchor::Left))
            r.setWidth(std::max(0, design.width() + dw));
        else
            r.moveLeft(design.left() + dw);
    }
    if (anchors.testFlag(Anchor::Bottom)) {
        if (anchors.testFlag(Anchor::Top))
            r.setHeight(std::max(0, design.height() + dh));
        else
            r.moveTop(design.top() + dh);
    }
    return r;
}

void AnchorLayout::apply(QSize clientSize) const
{
    for (const Item &item : m_items) {
        if (item.widget)
            item.widget->setGeometry(arrange(item.design, item.anchors, m_design, clientSize));
    }
}

} // namespace ormelin
