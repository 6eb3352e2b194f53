#pragma once

#include <optional>
#include <string>

#include "record/settings_fields.h"

class QLineEdit;

namespace skarnel {

// What one value entry shows of the text its model holds. A validated text
// shows as the shortest text of its float32 value ("0.1" for the model's
// "0.1000000015", see DisplayedEntryText); the model, the store, the presets
// and the engine keep the long text. What the user types is shown as typed
// until the entry is left or the model's text changes from elsewhere.
class EntryView {
public:
    EntryView(QLineEdit* entry, EntryCheck check) : entry_(entry), check_(check) {}

    QLineEdit* entry() const noexcept { return entry_; }

    // The user typed `text`, which the model takes as it is.
    void Typed(std::string text) { typed_ = std::move(text); }
    // The user left the entry: its validated text is shown afresh.
    void Left() { typed_.reset(); }
    // Shows the model's text without running the entry's change handling.
    void Show(const std::string& modelText);

private:
    QLineEdit* entry_;
    EntryCheck check_;
    // The model's text while it is the user's typing, shown as it is.
    std::optional<std::string> typed_;
};

}  // namespace skarnel
