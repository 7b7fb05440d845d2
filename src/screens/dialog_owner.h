#pragma once

// What a small modal form (rename, confirmation) tells the form that opened it.

namespace skin {
class Form;
}

namespace screens {

class DialogOwner {
public:
    // OK was pressed on dialog; the owner reads what it needs from it.
    virtual void dialog_ok(skin::Form& dialog) = 0;

protected:
    ~DialogOwner() = default;
};

} // namespace screens
