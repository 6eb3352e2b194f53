#pragma once

#include <QGroupBox>

#include "engine/engine_state.h"
#include "ui_channel_panel.h"

class QAction;

namespace skarnel {

class HoverLink;

// One channel's controls: on tick, noise function, crest factor, filter,
// amplitude and modulation. The same panel serves both sides; each control is
// renamed to its side's objectName (AmplitudeLeft, txtQR, ...) so the window,
// the settings and the tests find it by that name.
class ChannelPanel : public QGroupBox {
    Q_OBJECT
public:
    ChannelPanel(Channel side, QWidget* parent = nullptr);

    Channel side() const noexcept { return side_; }
    Ui::ChannelPanel ui;

    // "&Use Settings from Right Channel" on the left panel, "... Left ..." on
    // the right one.
    QAction* copyFromOtherAction() const noexcept { return copyFromOther_; }
    HoverLink* crestFactorLink() const noexcept { return crestLink_; }
    // The controls Tab reaches, in the order the form gives them.
    QList<QWidget*> TabStops() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void NameControls();
    void FillLists();
    // The lists' pictures in the panel's current colours.
    void DrawListIcons();

    Channel side_;
    QAction* copyFromOther_ = nullptr;
    HoverLink* crestLink_ = nullptr;
};

}  // namespace skarnel
