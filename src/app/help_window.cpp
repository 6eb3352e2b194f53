#include "app/help_window.h"

#include <QApplication>
#include <QListWidgetItem>
#include <QWindow>

#include "app/window_placement.h"

// The help pages are compiled into the static skarnel_app library; their
// registration must be pulled in explicitly, from outside any namespace.
static void InitHelpResources() {
    Q_INIT_RESOURCE(help);
}

namespace skarnel {

namespace {

struct PageEntry {
    int topic;
    const char* file;
    const char* title;
};

constexpr PageEntry kPages[] = {
    {0, "index.md", "Contents"},
    {10, "introduction.md", "Introduction"},
    {1, "generator_window.md", "The generator window"},
    {5, "file_menu.md", "The File menu"},
    {6, "presets_menu.md", "The Presets menu"},
    {13, "tools_menu.md", "The Tools menu"},
    {2, "output_settings.md", "Output Settings"},
    {4, "scripts.md", "Scripts"},
    {12, "crest_factor.md", "Crest factor"},
    {15, "live_view.md", "The live view"},
    {11, "performance.md", "Performance and dropouts"},
    {14, "command_line.md", "Command line and remote control"},
    {3, "about.md", "About Skarnel"},
};

QUrl PageUrl(const char* file) {
    return QUrl(QStringLiteral("qrc:/help/") + QLatin1String(file));
}

}  // namespace

const std::vector<HelpPage>& HelpPages() {
    static const std::vector<HelpPage> pages = [] {
        std::vector<HelpPage> list;
        for (const PageEntry& entry : kPages) {
            list.push_back({entry.topic, PageUrl(entry.file), QString::fromUtf8(entry.title)});
        }
        return list;
    }();
    return pages;
}

std::map<int, QUrl> HelpTopicPages() {
    std::map<int, QUrl> topics;
    for (const HelpPage& page : HelpPages()) {
        if (page.topic != 0) {
            topics.emplace(page.topic, page.url);
        }
    }
    return topics;
}

QUrl HelpIndexPage() {
    return HelpPages().front().url;
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    InitHelpResources();
    ui.setupUi(this);
    for (const HelpPage& page : HelpPages()) {
        auto* item = new QListWidgetItem(page.title, ui.topicList);
        item->setData(Qt::UserRole, page.url);
    }
    ui.splitter->setStretchFactor(0, 0);
    ui.splitter->setStretchFactor(1, 1);
    ui.splitter->setSizes({250, 650});

    connect(ui.btnBack, &QToolButton::clicked, ui.browser, &QTextBrowser::backward);
    connect(ui.btnForward, &QToolButton::clicked, ui.browser, &QTextBrowser::forward);
    connect(ui.btnHome, &QToolButton::clicked, this, [this] { ShowPage(HelpIndexPage()); });
    connect(ui.browser, &QTextBrowser::backwardAvailable, ui.btnBack, &QToolButton::setEnabled);
    connect(ui.browser, &QTextBrowser::forwardAvailable, ui.btnForward, &QToolButton::setEnabled);
    connect(ui.browser, &QTextBrowser::sourceChanged, this, &HelpWindow::SelectListEntry);
    connect(ui.topicList, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { ShowPage(item->data(Qt::UserRole).toUrl()); });
    connect(ui.topicList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ShowPage(item->data(Qt::UserRole).toUrl()); });
}

void HelpWindow::DisplayTopic(int contextNumber) {
    const std::map<int, QUrl> topics = HelpTopicPages();
    auto found = topics.find(contextNumber);
    if (found == topics.end()) {
        found = topics.find(kDefaultHelpTopic);
    }
    ShowPage(found->second);
}

void HelpWindow::DisplayDefaultTopic() {
    DisplayTopic(kDefaultHelpTopic);
}

void HelpWindow::DisplayIndex() {
    ShowPage(HelpIndexPage());
}

void HelpWindow::CloseAll() {
    hide();
}

QUrl HelpWindow::CurrentPage() const {
    return ui.browser->source();
}

void HelpWindow::ShowPage(const QUrl& page) {
    if (ui.browser->source() != page) {
        ui.browser->setSource(page);
    }
    if (!placed_) {
        PlaceOnScreen();
    }
    show();
    if (isMinimized()) {
        showNormal();
    }
    FollowModalWindow();
    raise();
    activateWindow();
}

// A modal window blocks input to every window except those it owns (its
// transients). Help asked for while one is open comes from that window (a
// message box's Help button) and is read beside it, so the help window
// belongs to it: the box still blocks its own window, not the help. A
// transient parent is held weakly and drops out when the box is destroyed;
// closed but kept, the box is not modal any more and exempts nothing.
//
// Every box of the program reports its opening and closing here, so a help
// window opened before the box is as usable as one opened from it.
void HelpWindow::FollowModalWindow() {
    if (windowHandle() == nullptr) {
        return;  // never shown: ShowPage follows the box when it shows
    }
    QWidget* modal = QApplication::activeModalWidget();
    windowHandle()->setTransientParent(modal != nullptr ? modal->windowHandle() : nullptr);
}

// The first time it shows, the window opens where it was left in an earlier
// run, or centred, and never larger than the screen's free area: the size in
// the form is what it takes where there is room. Afterwards it keeps the
// size and place the user gives it.
void HelpWindow::PlaceOnScreen() {
    const QSize wanted = storedPlace_ ? storedPlace_->size() : size();
    const std::optional<QPoint> at =
        storedPlace_ ? std::optional<QPoint>(storedPlace_->topLeft()) : std::nullopt;
    setGeometry(PlacedGeometry(at, wanted));
    placed_ = true;
}

std::optional<QRect> HelpWindow::PlaceToStore() const {
    if (!placed_) {
        return std::nullopt;
    }
    return geometry();
}

// Keeps the contents list on the page shown, whichever way it was reached.
void HelpWindow::SelectListEntry(const QUrl& page) {
    const QUrl shown = page.adjusted(QUrl::RemoveFragment);
    for (int row = 0; row < ui.topicList->count(); ++row) {
        QListWidgetItem* item = ui.topicList->item(row);
        if (item->data(Qt::UserRole).toUrl() == shown) {
            ui.topicList->setCurrentItem(item);
            return;
        }
    }
    ui.topicList->clearSelection();
}

}  // namespace skarnel
