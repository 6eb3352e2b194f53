#pragma once

class QWidget;

namespace skarnel {

// Screen readers on Linux read a list (QComboBox) by its current item, as
// Qt's own interface for lists presents it, and say what the list is for
// from the labels it is labelled by: a label whose buddy it is, beside it
// under the same parent. This gives every named, non-editable list under
// `root` such a label that says its accessible name ("Left noise function"):
// the label in front of it where it has one, else a hidden one of its own.
// A screen reader then reads "Left noise function, Pink Noise, combo box",
// and the items can be walked as the list's children.
void LabelListsForScreenReaders(QWidget& root);

}  // namespace skarnel
