#pragma once
// The window's geometry is part of what the operator knows: every control has a fixed place in
// a 947 x 731 window and follows chosen edges when the window is resized. AnchorLayout keeps each
// control's distances to the edges it is anchored to, the way a form designer's anchors do.
#include <QFlags>
#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

namespace ormelin {

enum class Anchor { Left = 1, Top = 2, Right = 4, Bottom = 8 };
Q_DECLARE_FLAGS(Anchors, Anchor)
Q_DECLARE_OPERATORS_FOR_FLAGS(Anchors)

inline constexpr Anchors kAnchorLeftTop = Anchors(Anchor::Left) | Anchor::Top;

class AnchorLayout
{
public:
    // `designSize` is the size of the client area the positions were given for.
    explicit AnchorLayout(QSize designSize)
        : m_design(designSize)
    {
    }

    // Places the widget at its design geometry and remembers how it follows the edges.
    void place(QWidget *widget, QRect designGeometry, Anchors anchors = kAnchorLeftTop);
    // Moves and resizes every control for the client area's new size.
    void apply(QSize clientSize) const;

    static QRect arrange(QRect design, Anchors anchors, QSize designSize, QSize clientSize);

private:
    struct Item
    {
        QPointer<QWidget> widget;
        QRect design;
        Anchors anchors;
    };
    QSize m_design;
    QList<Item> m_items;
};

} // namespace ormelin
