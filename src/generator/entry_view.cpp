#include "generator/entry_view.h"

#include <QLineEdit>
#include <QSignalBlocker>

namespace skarnel {

void EntryView::Show(const std::string& modelText) {
    if (typed_ == modelText) {
        return;  // the user's typing: no rewriting under their cursor
    }
    typed_.reset();  // the model's text came from elsewhere
    const QString shown = QString::fromStdString(DisplayedEntryText(check_, modelText));
    // Setting an entry to the text it has would move its cursor; only a
    // changed text is put in, and quietly: the shown text is not a change of
    // the model's.
    if (entry_->text() != shown) {
        const QSignalBlocker quiet(entry_);
        entry_->setText(shown);
    }
}

}  // namespace skarnel
