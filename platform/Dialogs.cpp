#include "platform/Dialogs.h"

#include <QDialog>
#include <utility>

namespace purgala {

namespace {

MessageHook& CurrentMessageHook() {
    static MessageHook hook;
    return hook;
}

ModalHook& CurrentModalHook() {
    static ModalHook hook;
    return hook;
}

}  // namespace

QMessageBox::StandardButton ShowMessage(const TMessageRequest& request) {
    if (const auto& hook = CurrentMessageHook()) {
        return hook(request);
    }
    QMessageBox box(request.icon, request.caption, request.text, request.buttons, request.parent);
    box.setInformativeText(request.informativeText);
    box.setDetailedText(request.detailedText);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

int ShowModal(QDialog& dialog) {
    if (const auto& hook = CurrentModalHook()) {
        return hook(dialog);
    }
    return dialog.exec();
}

MessageHook SetMessageHook(MessageHook hook) {
    return std::exchange(CurrentMessageHook(), std::move(hook));
}

ModalHook SetModalHook(ModalHook hook) {
    return std::exchange(CurrentModalHook(), std::move(hook));
}

}  // namespace purgala
