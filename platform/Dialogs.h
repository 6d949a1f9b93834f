#pragma once
// Modal questions and modal dialogs go through these two functions, so that tests can answer
// them instead of a person (the default shows them for real).

#include <QMessageBox>
#include <QString>
#include <functional>

class QDialog;
class QWidget;

namespace purgala {

struct TMessageRequest {
    QWidget* parent = nullptr;
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QString informativeText{};  // shown under the text, smaller; empty for none
    QString detailedText{};     // behind a "Show Details..." button, selectable; empty for none
};

// Shows a message box and returns the button pressed.
QMessageBox::StandardButton ShowMessage(const TMessageRequest& request);

// Runs a dialog modally and returns its result (QDialog::Accepted or Rejected, or done()'s code).
int ShowModal(QDialog& dialog);

using MessageHook = std::function<QMessageBox::StandardButton(const TMessageRequest&)>;
using ModalHook = std::function<int(QDialog&)>;

// Replace what the two functions do; an empty hook restores the real dialogs. Returns the old one.
MessageHook SetMessageHook(MessageHook hook);
ModalHook SetModalHook(ModalHook hook);

}  // namespace purgala
