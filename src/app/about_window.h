#pragma once

#include <QWidget>
#include <functional>

#include "ui_about_window.h"

namespace skarnel {

// The About window: name, version, the maker's web page, Help and OK. It is
// shown without being modal, while the window it belongs to takes no input:
// showing it disables that window and closing it in any way enables it again.
class AboutWindow : public QWidget {
    Q_OBJECT
public:
    explicit AboutWindow(QWidget* parent = nullptr);
    Ui::AboutWindow ui;

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
