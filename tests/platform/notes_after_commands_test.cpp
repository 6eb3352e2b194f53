// Messages caused by commands from other programs: shown after the call, one
// box per distinct text, never inside the call.
#include <gtest/gtest.h>

#include <QApplication>

#include "platform/notes_after_commands.h"
#include "scripted_dialogs.h"

namespace skarnel::testing {
namespace {

// Dialogs whose box, while it shows, lets more commands in (as a modal loop
// serves D-Bus calls).
class BusyDialogs : public ScriptedDialogs {
public:
    std::function<void()> whileShowing;
    void Note(const QString& text, int helpTopic = 0) override {
        ScriptedDialogs::Note(text, helpTopic);
        if (whileShowing) {
            std::exchange(whileShowing, nullptr)();
        }
    }
};

TEST(NotesAfterCommands, AFloodOfCommandsShowsEachMessageOnceAfterTheCalls) {
    BusyDialogs boxes;
    NotesAfterCommands notes(boxes);
    for (int i = 0; i < 75; ++i) {
        const NotesAfterCommands::CommandScope command(notes);
        notes.Note("For very short signals please decrease the buffer number");
        EXPECT_FALSE(notes.Announce("Go on?"));  // no one to press OK
        EXPECT_FALSE(notes.Ask("Sure?", "Question"));
        EXPECT_EQ(notes.SaveFile({}), std::nullopt);
    }
    EXPECT_TRUE(boxes.shown.isEmpty()) << "nothing inside the calls";
    EXPECT_EQ(notes.waiting(), 2u);

    // While the first box shows, the same text again and a new one arrive.
    boxes.whileShowing = [&notes] {
        const NotesAfterCommands::CommandScope command(notes);
        notes.Note("For very short signals please decrease the buffer number");
        notes.Note("Sound Device Error: gone");
    };
    QApplication::processEvents();
    EXPECT_EQ(boxes.shown, (QStringList{"For very short signals please decrease the buffer number",
                                        "Go on?", "Sound Device Error: gone"}));
    EXPECT_EQ(notes.waiting(), 0u);

    // Outside a command everything is asked as before.
    boxes.answers = {true};
    EXPECT_TRUE(notes.Ask("Sure?", "Question"));
    notes.Note("direct");
    EXPECT_EQ(boxes.Last(), "direct");
}

}  // namespace
}  // namespace skarnel::testing
