#pragma once

#include <QScrollArea>

namespace skarnel {

// A scroll area that asks for the whole of its content: a window built
// around it opens at the content's natural size, without scroll bars, where
// the screen has room, and can still shrink to a small screen (a high scale
// factor), where the scroll bars then reach every control.
class FittingScrollArea : public QScrollArea {
    Q_OBJECT
public:
    explicit FittingScrollArea(QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    // The content's layout changing changes this hint too: the window's
    // layout is told, as it would be for a child in a layout of its own.
    bool viewportEvent(QEvent* event) override;
};

}  // namespace skarnel
