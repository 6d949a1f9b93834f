#pragma once
// The folder settings dialog: the folders to check, edited in a grid. It works on a copy of the
// document's folder list and writes the grid back, and saves the file, whenever it closes.

#include <QDialog>
#include <optional>
#include <string>
#include <unordered_map>

#include "platform/VirtualTree.h"

class QCheckBox;
class QFrame;
class QPushButton;
class QShowEvent;

namespace purgala {

class TfmSetting : public QDialog {
    Q_OBJECT
public:
    explicit TfmSetting(QWidget* owner = nullptr);
    ~TfmSetting() override;

    QFrame* Panel1;
    TVirtualStringTree* VT;
    QPushButton* btnAdd;   // "Add Folder To Check"
    QPushButton* btnDel;   // "Delete Selected Folder"
    QPushButton* btnOpen;  // "Open Folder Explore"
    QPushButton* btnExit;  // "Close"
    QCheckBox* cbTrash;    // "Move deleted files to the trash"

    // The column of each folder's age in days, empty where it has none.
    static constexpr int kAgeColumn = 4;
    // The column of each folder's keep patterns, empty where it has none.
    static constexpr int kKeepColumn = 5;

    // Fills the grid from the document's folder list, and the trash box from its choice.
    void FormShow();
    void VTGetText(TVirtualStringTree& sender, PVirtualNode node, int column, TVSTTextType textType,
                   std::string& cellText);
    void btnAddClick();
    void btnDelClick();
    void btnOpenClick();
    void VTDblClick(TVirtualStringTree& sender);
    void btnExitClick();
    // Replaces the document's folder list with the grid's rows, writes the trash choice when
    // it changed, and saves the file; failures raise.
    void FormClose();

    // Every way of closing ends here: the rows are written back once per opening. When they
    // cannot be saved the user is told why, and the dialog closes all the same.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ClearFocusedRow();
    // Sets the age of `row` from what the user typed: whole days; empty or 0 for none.
    void SetAge(PVirtualNode row, const std::string& text);
    // Sets the keep patterns of `row` from what the user typed; empty for none.
    void SetKeep(PVirtualNode row, const std::string& text);

    // The age of each row that has one, as written in the document or typed.
    std::unordered_map<PVirtualNode, std::string> ages_;
    // The keep patterns of each row that has some, as in the document or typed.
    std::unordered_map<PVirtualNode, std::string> keeps_;

    bool open_ = false;  // filled from the document and not yet written back

    bool listRead_ = false;  // the grid was filled from the document at this opening
    // The trash choice as read at this opening; empty when the document's value was no boolean.
    std::optional<bool> trashRead_;
};

}  // namespace purgala
