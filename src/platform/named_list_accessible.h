#pragma once

namespace skarnel {

// Qt names a list (QComboBox) to screen readers on Linux by its current
// item, whatever accessible name it was given: the two channel panels' lists
// then read "6:1", "None" with nothing to tell left from right or gain from
// crest factor. Once installed, a list that has an accessible name is read
// by that name, with its current item as its value, and can still be opened
// through its action. Lists without a name keep Qt's own interface.
void InstallNamedListAccessibility();

}  // namespace skarnel
