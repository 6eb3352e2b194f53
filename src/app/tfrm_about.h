#pragma once

#include <QWidget>
#include <functional>

#include "ui_tfrm_about.h"

namespace skarnel {

// The About window: name, version, the maker's web page, Help and OK. It is
// shown without being modal, while the window it belongs to takes no input:
// showing it disables that window and closing it in any way enables it again.
class TfrmAbout : public QWidget {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget* parent = nullptr);
    Ui::TfrmAbout ui;

    // Disables `owner` and shows the window.
    void ShowFor(QWidget* owner);
    // Opens the maker's web page (the link).
    std::function<void()> openWebPage;

protected:
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* owner_ = nullptr;
};

}  // namespace skarnel
