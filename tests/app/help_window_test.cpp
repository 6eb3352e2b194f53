#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QListWidgetItem>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <map>

#include "app/help_window.h"
#include "app/window_settings.h"
#include "persistence/settings_store.h"
#include "recording_help_viewer.h"

namespace skarnel::testing {
namespace {

// The text of the first top-level heading of a document.
QString Heading(const QTextDocument& document) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().headingLevel() == 1) {
            return block.text();
        }
    }
    return {};
}

QString ShownHeading(const HelpWindow& window) {
    return Heading(*window.ui.browser->document());
}

// Every link target in a document, as written.
QStringList Links(const QTextDocument& document) {
    QStringList links;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor() && !format.anchorHref().isEmpty() &&
                (links.isEmpty() || links.last() != format.anchorHref())) {
                links << format.anchorHref();
            }
        }
    }
    return links;
}

TEST(HelpRouterTest, EachRequestReachesTheViewerAsItsCommand) {
    RecordingHelpViewer viewer;
    HelpRouter* router = HelpRouter::Installed();
    ASSERT_NE(router, nullptr);
    EXPECT_TRUE(router->HelpRequest(HelpCommand::kContext, 4));
    EXPECT_TRUE(router->HelpRequest(HelpCommand::kContextPopup, 12));
    EXPECT_TRUE(router->HelpRequest(HelpCommand::kKeyword, 7));
    EXPECT_TRUE(router->HelpRequest(HelpCommand::kOther, 7));
    ShowHelpTopic(3);
    EXPECT_EQ(viewer.topics, (std::vector<int>{4, 12, -2, -1, 3}));
    EXPECT_EQ(viewer.closed, 0);
    EXPECT_TRUE(router->HelpRequest(HelpCommand::kQuit, 0));
    EXPECT_EQ(viewer.closed, 1);
    EXPECT_EQ(viewer.topics.size(), 5u);
}

TEST(HelpWindowTest, EveryTopicOpensItsPage) {
    const std::map<int, QString> headings = {
        {1, "generator window"}, {2, "Output Settings"}, {3, "About Skarnel"}, {4, "Scripts"},
        {5, "File menu"},        {6, "Presets menu"},    {10, "Introduction"}, {11, "Performance"},
        {12, "Crest factor"},    {13, "Tools menu"},     {14, "Command line"}, {15, "live view"},
    };
    const std::map<int, QUrl> pages = HelpTopicPages();
    EXPECT_EQ(pages.size(), headings.size());
    HelpWindow window;
    EXPECT_EQ(window.windowTitle(), "Skarnel Help");
    for (const auto& [topic, heading] : headings) {
        SCOPED_TRACE(topic);
        window.hide();
        window.DisplayTopic(topic);
        ASSERT_EQ(pages.count(topic), 1u);
        EXPECT_EQ(window.CurrentPage(), pages.at(topic));
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(ShownHeading(window).contains(heading, Qt::CaseInsensitive))
            << ShownHeading(window).toStdString();
        EXPECT_GT(window.ui.browser->toPlainText().size(), 800);
        ASSERT_NE(window.ui.topicList->currentItem(), nullptr);
        EXPECT_EQ(window.ui.topicList->currentItem()->data(Qt::UserRole).toUrl(), pages.at(topic));
    }
}

TEST(HelpWindowTest, UnknownTopicsShowTheDefaultPageAndTheIndexShowsTheContents) {
    const QUrl introduction = HelpTopicPages().at(kDefaultHelpTopic);
    HelpWindow window;
    for (int topic : {0, 7, 999, -1}) {
        window.DisplayTopic(2);
        window.DisplayTopic(topic);
        EXPECT_EQ(window.CurrentPage(), introduction) << topic;
    }
    window.DisplayTopic(2);
    window.DisplayDefaultTopic();
    EXPECT_EQ(window.CurrentPage(), introduction);
    EXPECT_TRUE(ShownHeading(window).contains("Introduction"));

    window.DisplayIndex();
    EXPECT_EQ(window.CurrentPage(), HelpIndexPage());
    EXPECT_TRUE(ShownHeading(window).contains("Contents"));
    EXPECT_EQ(window.ui.topicList->currentRow(), 0);

    window.CloseAll();
    EXPECT_FALSE(window.isVisible());
    window.DisplayTopic(5);
    EXPECT_TRUE(window.isVisible());
}

// Every bundled page is listed, every link leads to a bundled page, every page
// leads back to the contents and the contents lead to every page.
TEST(HelpWindowTest, EveryLinkOfEveryPageResolves) {
    HelpWindow window;  // registers the pages
    QSet<QUrl> listed;
    for (const HelpPage& page : HelpPages()) {
        listed.insert(page.url);
    }
    QSet<QUrl> bundled;
    for (const QString& name : QDir(":/help").entryList({"*.md"}, QDir::Files)) {
        bundled.insert(QUrl("qrc:/help/" + name));
    }
    EXPECT_EQ(bundled, listed);
    ASSERT_GE(bundled.size(), 12);

    QSet<QUrl> reachedFromIndex;
    for (const QUrl& page : bundled) {
        SCOPED_TRACE(page.toString().toStdString());
        QFile file(":" + page.path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QTextDocument document;
        document.setMarkdown(QString::fromUtf8(file.readAll()));
        bool linksToIndex = false;
        for (const QString& href : Links(document)) {
            SCOPED_TRACE(href.toStdString());
            const QUrl link(href);
            if (link.scheme() == "mailto" || link.scheme() == "https") {
                continue;
            }
            EXPECT_TRUE(link.isRelative());
            EXPECT_TRUE(link.fragment().isEmpty());
            const QUrl target = page.resolved(link);
            EXPECT_TRUE(bundled.contains(target));
            linksToIndex = linksToIndex || target == HelpIndexPage();
            if (page == HelpIndexPage()) {
                reachedFromIndex.insert(target);
            }
        }
        EXPECT_TRUE(page == HelpIndexPage() || linksToIndex);
    }
    EXPECT_EQ(reachedFromIndex, bundled - QSet<QUrl>{HelpIndexPage()});
}

// A click on a link of a page opens the linked page in the window; Back and
// Forward retrace the way.
TEST(HelpWindowTest, ClickedLinksNavigateAndBackReturns) {
    HelpWindow window;
    window.DisplayIndex();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTextBrowser* browser = window.ui.browser;
    const QTextCursor link =
        browser->document()->find("Crest factor", 0, QTextDocument::FindCaseSensitively);
    ASSERT_FALSE(link.isNull());
    QTextCursor inside(browser->document());
    inside.setPosition(link.selectionStart() + 2);
    const QPoint at = browser->cursorRect(inside).center();
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(window.CurrentPage(), QUrl("qrc:/help/crest_factor.md"));
    EXPECT_TRUE(ShownHeading(window).contains("Crest factor"));
    EXPECT_TRUE(window.ui.btnBack->isEnabled());

    window.ui.btnBack->click();
    EXPECT_EQ(window.CurrentPage(), HelpIndexPage());
    EXPECT_TRUE(window.ui.btnForward->isEnabled());
    window.ui.btnForward->click();
    EXPECT_EQ(window.CurrentPage(), QUrl("qrc:/help/crest_factor.md"));
    window.ui.btnHome->click();
    EXPECT_EQ(window.CurrentPage(), HelpIndexPage());
}

// The help window opens within the screen's free area and no larger than
// its own size; then it keeps the size and place the user gives it, within a
// run and, through the store, in the next one. (The test screen, 800x600, is
// smaller than the window's own size.)
TEST(HelpWindowTest, OpensOnTheScreenAndKeepsWhereTheUserLeftIt) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    MemorySettingsStore store;
    QRect left;
    {
        HelpWindow help;
        const QSize own = help.size();
        LoadHelpPlace(store, help);  // nothing stored yet
        help.DisplayTopic(kGeneratorHelp);
        EXPECT_TRUE(area.contains(help.geometry()))
            << help.geometry().width() << "x" << help.geometry().height() << " at " << help.x()
            << "," << help.y();
        EXPECT_LE(help.width(), own.width());
        EXPECT_LE(help.height(), own.height());

        left = QRect(area.topLeft() + QPoint(30, 40), QSize(500, 400));
        help.setGeometry(left);
        help.CloseAll();
        help.DisplayTopic(kScriptHelp);
        EXPECT_EQ(help.geometry(), left) << "shown again, it moved";
        SaveHelpPlace(store, help);
    }
    HelpWindow next;
    LoadHelpPlace(store, next);
    next.DisplayIndex();
    EXPECT_EQ(next.geometry(), left) << "the next run does not open it where it was left";

    // A place from a larger screen comes back onto this one, made smaller.
    ASSERT_TRUE(store.Save(SettingsKeyPath(), {{"HelpX", std::int32_t{2500}},
                                               {"HelpY", std::int32_t{1400}},
                                               {"HelpWidth", std::int32_t{1800}},
                                               {"HelpHeight", std::int32_t{1200}}}));
    HelpWindow larger;
    LoadHelpPlace(store, larger);
    larger.DisplayIndex();
    EXPECT_TRUE(area.contains(larger.geometry()));
}

}  // namespace
}  // namespace skarnel::testing
