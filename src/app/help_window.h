#pragma once

#include <QRect>
#include <QUrl>
#include <QWidget>
#include <map>
#include <optional>
#include <vector>

#include "platform/help_router.h"
#include "ui_help_window.h"

namespace skarnel {

// The page shown when no page has the requested topic number.
inline constexpr int kDefaultHelpTopic = 10;

// One bundled help page: its topic number (0 for the contents page, which
// has none), its address and the name the contents list gives it.
struct HelpPage {
    int topic;
    QUrl url;
    QString title;
};

// Every bundled page in the order of the contents list, contents first.
const std::vector<HelpPage>& HelpPages();
// The page of each help topic number.
std::map<int, QUrl> HelpTopicPages();
// The contents page.
QUrl HelpIndexPage();

// The help viewer: a contents list on the left and the page on the right,
// with Back, Forward and Contents. Links between pages are followed inside
// the window; mail and web links go to the desktop's mail client and browser.
class HelpWindow : public QWidget, public HelpViewer {
    Q_OBJECT

public:
    explicit HelpWindow(QWidget* parent = nullptr);

    void DisplayTopic(int contextNumber) override;
    void DisplayDefaultTopic() override;
    void DisplayIndex() override;
    void CloseAll() override;
    // A help window open beside a modal box belongs to it, so the box leaves
    // it usable (see the definition).
    void FollowModalWindow() override;

    // The place (client area) the window had in an earlier run: it opens
    // there the first time, pulled inside the screen and made smaller where
    // the screen is smaller.
    void SetStoredPlace(const std::optional<QRect>& place) { storedPlace_ = place; }
    // The place to keep for the next run: where the user left it, or nothing
    // when it has not been shown.
    std::optional<QRect> PlaceToStore() const;

    // The page shown now (empty before the first request).
    QUrl CurrentPage() const;

    Ui::HelpWindow ui;

private:
    void ShowPage(const QUrl& page);
    void SelectListEntry(const QUrl& page);
    void PlaceOnScreen();

    std::optional<QRect> storedPlace_;
    bool placed_ = false;
};

}  // namespace skarnel
