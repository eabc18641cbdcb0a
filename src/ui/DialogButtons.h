// The OK and Cancel row shared by the program's dialogs.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>

namespace harvix {

// Makes the OK (default) and Cancel buttons of `dialog`, named "okButton" and
// "cancelButton" for the tests, in a button box wired to accept and reject.
inline QDialogButtonBox* makeOkCancelButtons(QDialog* dialog, QPushButton*& ok,
                                             QPushButton*& cancel) {
    ok = new QPushButton(dialog);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    cancel = new QPushButton(dialog);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    auto* buttons = new QDialogButtonBox(dialog);
    buttons->addButton(ok, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancel, QDialogButtonBox::RejectRole);
    return buttons;
}

}  // namespace harvix
