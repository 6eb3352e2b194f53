// Help stays usable while a message box is open, whether it was opened
// before the box or from its Help button: the viewer must take input then
// (Qt drops input to a window a modal box blocks), while the window the box
// belongs to stays blocked.
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

// Help opened before a box stays usable while any box of the program is
// open, with or without a Help button, while the box still blocks its own
// window; once the box is answered the help belongs to no box.
TEST_F(HelpBesideBoxTest, HelpOpenedBeforeAnyBoxStaysUsableBesideIt) {
    help.DisplayTopic(kGeneratorHelp);
    for (int kind = 0; kind < 4; ++kind) {
        bool checked = false;
        WhileBoxOpen(
            [&](QMessageBox&) {
                EXPECT_TRUE(HelpTakesAClick()) << "box " << kind << " blocks the help window";
                EXPECT_FALSE(OwnerTakesAClick()) << "box " << kind << " lets its window act";
                checked = true;
            },
            kind == 0 ? QMessageBox::Ok : (kind == 1 ? QMessageBox::Cancel : QMessageBox::No));
        bool tick = false;
        if (kind == 0) {
            dialogs.Note("A note without help.");
        } else if (kind == 1) {
            dialogs.Announce("An announcement without help.");
        } else if (kind == 2) {
            dialogs.Ask("A question.", "Question");
        } else {
            dialogs.AskSuppressible("Ctrl+T's hint.", "Hint", tick);
        }
        EXPECT_TRUE(checked) << kind;
        ASSERT_TRUE(help.isVisible());
        EXPECT_EQ(help.windowHandle()->transientParent(), nullptr) << kind;
        EXPECT_TRUE(OwnerTakesAClick()) << kind;
    }
}

// F1 in a box opens the page of what the box is about: its own topic, else
// the task it comes from, else the generator window's page.
TEST_F(HelpBesideBoxTest, F1InABoxOpensThePageOfWhatItIsAbout) {
    const auto f1In = [&](QMessageBox::StandardButton answer) {
        WhileBoxOpen(
            [](QMessageBox& box) {
                box.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
                QTest::keyClick(&box, Qt::Key_F1);
            },
            answer);
    };
    f1In(QMessageBox::Ok);
    dialogs.Note("There is an issue with performance.", kPerformanceHelp);
    EXPECT_EQ(help.CurrentPage(), HelpTopicPages().at(kPerformanceHelp));
    {
        const HelpContext exporting(kFileMenuHelp);
        f1In(QMessageBox::No);
        bool tick = false;
        dialogs.AskSuppressible("Ctrl+T's hint.", "Hint", tick);
        EXPECT_EQ(help.CurrentPage(), HelpTopicPages().at(kFileMenuHelp));
        {
            const HelpContext script(kScriptHelp);
            f1In(QMessageBox::Ok);
            dialogs.Note("Check the amplifier");
            EXPECT_EQ(help.CurrentPage(), HelpTopicPages().at(kScriptHelp));
        }
        f1In(QMessageBox::Yes);
        dialogs.Ask("Again?", "Question");
        EXPECT_EQ(help.CurrentPage(), HelpTopicPages().at(kFileMenuHelp));
    }
    f1In(QMessageBox::Ok);
    dialogs.Note("A note of the window.");
    EXPECT_EQ(help.CurrentPage(), HelpTopicPages().at(kGeneratorHelp));
}

}  // namespace
}  // namespace skarnel::testing
