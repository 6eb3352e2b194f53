// A message box with a Help button opens the help viewer while the box is
// still open: the viewer must take input then (Qt drops input to a window a
// modal box blocks), while the window the box belongs to stays blocked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidgetItem>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "app/help_window.h"
#include "platform/dialogs.h"

namespace skarnel::testing {
namespace {

// A click as the window system delivers it: through the window, so that Qt
// applies modality (QWidget-level sends bypass it).
void ClickThroughWindow(QWidget* target, QPoint inTarget) {
    QWidget* top = target->window();
    QTest::mouseClick(top->windowHandle(), Qt::LeftButton, {}, target->mapTo(top, inTarget));
}

class HelpBesideBoxTest : public ::testing::Test {
protected:
    HelpBesideBoxTest() {
        owner.setCentralWidget(ownerButton);
        owner.resize(300, 200);
        owner.show();
        QObject::connect(ownerButton, &QPushButton::clicked, [this] { ++ownerClicks; });
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&owner));
    }

    // Runs `whileOpen` inside the box that the next dialog call opens, then
    // answers the box with `answer`.
    void WhileBoxOpen(std::function<void(QMessageBox&)> whileOpen,
                      QMessageBox::StandardButton answer) {
        QTimer::singleShot(0, [whileOpen, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr) << "no message box is open";
            whileOpen(*box);
            box->button(answer)->click();
        });
    }

    // Picks an entry of the help's contents list other than the page shown,
    // with a real click; true when the viewer followed it.
    bool HelpTakesAClick() {
        QListWidget* list = help.ui.topicList;
        QListWidgetItem* other = list->item(help.CurrentPage() == HelpIndexPage() ? 1 : 0);
        list->scrollToItem(other);
        ClickThroughWindow(list->viewport(), list->visualItemRect(other).center());
        return help.CurrentPage() == other->data(Qt::UserRole).toUrl();
    }

    bool OwnerTakesAClick() {
        const int before = ownerClicks;
        ClickThroughWindow(ownerButton, ownerButton->rect().center());
        return ownerClicks > before;
    }

    HelpWindow help;
    HelpRouter router{help};
    QMainWindow owner;
    QPushButton* ownerButton = new QPushButton("ON");
    int ownerClicks = 0;
    QtDialogs dialogs{&owner};
};

TEST_F(HelpBesideBoxTest, HelpOfANoteIsUsableWhileTheOwnerStaysBlocked) {
    bool checked = false;
    WhileBoxOpen(
        [&](QMessageBox& box) {
            box.button(QMessageBox::Help)->click();
            EXPECT_TRUE(box.isVisible()) << "Help closed the box";
            EXPECT_TRUE(help.isVisible());
            EXPECT_EQ(help.CurrentPage(), HelpTopicPages().at(kPerformanceHelp));
            EXPECT_TRUE(HelpTakesAClick()) << "the help window is blocked by the box";
            EXPECT_FALSE(OwnerTakesAClick()) << "the box's own window takes input";
            checked = true;
        },
        QMessageBox::Ok);
    dialogs.Note("There is an issue with performance.", kPerformanceHelp);
    EXPECT_TRUE(checked);
    // Once answered, the box blocks nothing: the same click reaches the owner.
    EXPECT_TRUE(OwnerTakesAClick());
    EXPECT_TRUE(help.isVisible());
}

TEST_F(HelpBesideBoxTest, HelpOfAnAnnouncementLeavesItsAnswersAlone) {
    for (const auto answer : {QMessageBox::Ok, QMessageBox::Cancel}) {
        help.hide();
        WhileBoxOpen(
            [&](QMessageBox& box) {
                box.button(QMessageBox::Help)->click();
                EXPECT_EQ(help.CurrentPage(), HelpTopicPages().at(kOutputSettingsHelp));
                EXPECT_TRUE(HelpTakesAClick());
                EXPECT_FALSE(OwnerTakesAClick());
            },
            answer);
        EXPECT_EQ(dialogs.Announce("Next test.", kOutputSettingsHelp), answer == QMessageBox::Ok);
    }
}

// A script's pause text with markup shows as written: no link to click, no
// image read from the disk.
TEST_F(HelpBesideBoxTest, BoxesShowTheirTextsAsPlainText) {
    const QString marked = "<b>x</b><img src=\"/etc/passwd\"><a href=\"file:///tmp/e\">Click</a>";
    for (int kind = 0; kind < 3; ++kind) {
        WhileBoxOpen(
            [&](QMessageBox& box) {
                EXPECT_EQ(box.textFormat(), Qt::PlainText) << kind;
                EXPECT_EQ(box.text(), marked);
            },
            kind == 0 ? QMessageBox::Ok : QMessageBox::Yes);
        if (kind == 0) {
            dialogs.Note(marked);
        } else if (kind == 1) {
            dialogs.Ask(marked, "Question");
        } else {
            bool tick = false;
            dialogs.AskSuppressible(marked, "Hint", tick);
        }
    }
}

TEST_F(HelpBesideBoxTest, OnlyTheBoxsHelpFreesTheHelpWindowAndOnlyWhileItIsOpen) {
    help.DisplayTopic(kGeneratorHelp);
    WhileBoxOpen(
        [&](QMessageBox& box) {
            EXPECT_FALSE(HelpTakesAClick()) << "a box blocks a help window opened before it";
            box.button(QMessageBox::Help)->click();
            EXPECT_TRUE(HelpTakesAClick());
        },
        QMessageBox::Ok);
    dialogs.Note("A note with help.", kPerformanceHelp);
    // The help window stays open; the next box blocks it again until its own
    // Help is pressed.
    ASSERT_TRUE(help.isVisible());
    WhileBoxOpen([&](QMessageBox&) { EXPECT_FALSE(HelpTakesAClick()); }, QMessageBox::Ok);
    dialogs.Note("Another note with help.", kPerformanceHelp);
}

}  // namespace
}  // namespace skarnel::testing
