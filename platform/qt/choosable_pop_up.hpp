#pragma once

#include <QComboBox>

namespace quillmark::platform::qt {

// The destination pop-up. Besides the mouse and the keyboard, its items can
// be chosen through the accessibility interface: each item offers a "Press"
// action that chooses it as a click would (the toolkit's own items offer
// none that commits a choice). A choice made either way is reported by
// `activated`.
class ChoosablePopUp final : public QComboBox {
public:
    ChoosablePopUp();

    // Chooses item `index` as the user would; nothing while disabled.
    void choose(int index);
};

} // namespace quillmark::platform::qt
