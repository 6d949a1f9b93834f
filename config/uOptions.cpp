#include "config/uOptions.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <algorithm>
#include <exception>
#include <string_view>
#include <utility>

#include "config/AttributeValues.h"
#include "config/Config.h"
#include "config/uAddFolder.h"
#include "platform/Colors.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Failures.h"
#include "platform/FileNames.h"
#include "scan/FolderSpec.h"
#include "util/FileUtils.h"
#include "util/ShellActions.h"

namespace purgala {

namespace {

const QColor kGridColor(0xEF, 0xF3, 0xFF);
const QColor kHeaderColor(0x7B, 0xAA, 0xFF);

}  // namespace

TfmSetting::TfmSetting(QWidget* owner) : QDialog(owner) {
    setObjectName("fmSetting");
    setWindowTitle(tr("Setup Folders to Check "));

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setGeometry(10, 8, 462, 372);
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->setContentsMargins(1, 1, 1, 1);

    VT = new TVirtualStringTree(Panel1);
    VT->setObjectName("VT");
    VT->setToolTip(tr("Items"));
    VT->setRootIsDecorated(false);
    VT->setItemsExpandable(false);
    QPalette gridPalette = VT->palette();
    SetFixedBackground(gridPalette, QPalette::Base, QPalette::Text, kGridColor);
    VT->setPalette(gridPalette);
    QPalette headerPalette = VT->header()->palette();
    SetFixedBackground(headerPalette, QPalette::Button, QPalette::ButtonText, kHeaderColor);
    SetFixedBackground(headerPalette, QPalette::Window, QPalette::WindowText, kHeaderColor);
    VT->header()->setPalette(headerPalette);
    VT->header()->setSectionResizeMode(QHeaderView::Interactive);
    const std::pair<const char*, int> columns[] = {{"No", 30},         {"Folder Name", 90},
                                                   {"Full Path", 150}, {"File Extension", 90},
                                                   {"Age", 40},        {"Keep", 130}};
    // Every column fits the panel with its caption whole, whatever the desktop's font: the panel
    // and the dialog grow where the captions need more than the columns' own widths.
    int columnsWidth = 0;
    for (const auto& [caption, width] : columns) {
        TVirtualTreeColumn column = VT->Header().Columns().Add();
        column.SetText(tr(caption));
        const int fitting = std::max(width, VT->header()->sectionSizeHint(column.Index()));
        column.SetWidth(fitting);
        columnsWidth += fitting;
    }
    // Room for the frames and for a vertical scroll bar once the list is long.
    const int panelWidth =
        std::max(462, columnsWidth + 2 + 2 * VT->frameWidth() +
                          VT->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, VT) + 2);
    const int grown = panelWidth - 462;
    Panel1->resize(panelWidth, Panel1->height());
    VT->OnGetText = [this](TVirtualStringTree& sender, PVirtualNode node, int column,
                           TVSTTextType textType, std::string& cellText) {
        VTGetText(sender, node, column, textType, cellText);
    };
    VT->OnDblClick = [this](TVirtualStringTree& sender) { VTDblClick(sender); };
    // The age and the keep patterns are edited in their cells: F2, or a click on the selected
    // row. A double click still opens the folder.
    VT->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    VT->OnEditing = [](TVirtualStringTree&, PVirtualNode, int column, bool& allowed) {
        allowed = column == kAgeColumn || column == kKeepColumn;
    };
    VT->OnNewText = [this](TVirtualStringTree&, PVirtualNode node, int column,
                           const std::string& text) {
        if (column == kAgeColumn) {
            SetAge(node, text);
        } else if (column == kKeepColumn) {
            SetKeep(node, text);
        }
    };
    panelLayout->addWidget(VT);

    const auto makeButton = [this](const QString& caption, const char* name) {
        auto* button = new QPushButton(caption, this);
        button->setObjectName(name);
        // Enter in the grid must not press "Add Folder To Check" behind the user's back.
        button->setAutoDefault(false);
        return button;
    };
    btnAdd = makeButton(tr("Add Folder To Check"), "btnAdd");
    btnDel = makeButton(tr("Delete Selected Folder"), "btnDel");
    btnOpen = makeButton(tr("Open Folder Explore"), "btnOpen");
    btnExit = makeButton(tr("Close"), "btnExit");
    // Where the desktop's font is too wide for a caption, the buttons and the dialog grow by the
    // same amount rather than cut the caption off.
    int buttonWidth = 129;
    for (QPushButton* button : {btnAdd, btnDel, btnOpen, btnExit}) {
        buttonWidth = std::max(buttonWidth, button->sizeHint().width());
    }
    btnAdd->setGeometry(481 + grown, 39, buttonWidth, 25);
    btnDel->setGeometry(482 + grown, 85, buttonWidth, 25);
    btnOpen->setGeometry(481 + grown, 137, buttonWidth, 25);
    btnExit->setGeometry(481 + grown, 337, buttonWidth, 25);
    // In the free space above "Close"; the dialog grows where the caption is wider than the
    // buttons.
    cbTrash = new QCheckBox(tr("Move deleted files to the trash"), this);
    cbTrash->setObjectName("cbTrash");
    const int boxWidth = cbTrash->sizeHint().width();
    cbTrash->setGeometry(481 + grown, 297, boxWidth, std::max(25, cbTrash->sizeHint().height()));
    setFixedSize(grown + std::max(621 + buttonWidth - 129, 481 + boxWidth + 10), 391);

    connect(btnAdd, &QPushButton::clicked, this, GuardedSlot(this, &TfmSetting::btnAddClick));
    connect(btnDel, &QPushButton::clicked, this, GuardedSlot(this, &TfmSetting::btnDelClick));
    connect(btnOpen, &QPushButton::clicked, this, GuardedSlot(this, &TfmSetting::btnOpenClick));
    connect(btnExit, &QPushButton::clicked, this, GuardedSlot(this, &TfmSetting::btnExitClick));
}

TfmSetting::~TfmSetting() {
    // The grid outlives this part of the object: it must not call back into it while it goes.
    VT->OnGetText = nullptr;
    VT->OnDblClick = nullptr;
    VT->OnEditing = nullptr;
    VT->OnNewText = nullptr;
}

void TfmSetting::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TfmSetting::FormShow() {
    // From here on a close writes back, even when the document cannot be read now.
    open_ = true;
    listRead_ = false;
    {
        TUpdateBracket update(*VT);
        VT->Clear();
        ages_.clear();
        keeps_.clear();
        const auto folders = GetConfig().GetRoot()->GetFolders();
        const int count = folders->GetCount();
        for (int i = 0; i < count; ++i) {
            const auto folder = folders->GetFolder(i);
            const PVirtualNode row = VT->AddChild(nullptr);
            TFileNodeData& data = VT->GetNodeData(row);
            data.SetText(TFieldKind::FileName, EncodeFileName(folder->GetName()));
            data.SetText(TFieldKind::FullPath, EncodeFileName(folder->GetFullpath()));
            data.SetText(TFieldKind::FileExt, EncodeFileName(folder->GetExt()));
            // As written, also a value that is no number: the user sees it and can mend it.
            if (const QString age = folder->GetAgeText(); !age.isEmpty()) {
                ages_[row] = EncodeFileName(age);
            }
            if (const QString keep = folder->GetKeep(); !keep.isEmpty()) {
                keeps_[row] = EncodeFileName(keep);
            }
        }
    }
    try {
        trashRead_ = GetConfig().GetRoot()->GetTrash();
    } catch (const ConvertError&) {
        // Shown unchecked; the close writes what the box then says.
        trashRead_.reset();
    }
    cbTrash->setChecked(trashRead_.value_or(false));
    listRead_ = true;
    ClearFocusedRow();
}

void TfmSetting::VTGetText(TVirtualStringTree& sender, PVirtualNode node, int column, TVSTTextType,
                           std::string& cellText) {
    const TFileNodeData& data = sender.GetNodeData(node);
    switch (column) {
        case 0:
            cellText = std::to_string(sender.NodeIndex(node) + 1);
            break;
        case 1:
            cellText = data.FileName();
            break;
        case 2:
            cellText = std::string(data.FullPath());
            break;
        case 3:
            cellText = data.FileExt();
            break;
        case kAgeColumn:
            if (const auto age = ages_.find(node); age != ages_.end()) {
                cellText = age->second;
            }
            break;
        case kKeepColumn:
            if (const auto keep = keeps_.find(node); keep != keeps_.end()) {
                cellText = keep->second;
            }
            break;
        default:
            break;
    }
}

void TfmSetting::btnAddClick() {
    TfmFolder folderDialog(nullptr);
    if (ShowModal(folderDialog) != QDialog::Accepted) {
        return;
    }
    const std::string directory = EncodeFileName(folderDialog.Directory());
    TUpdateBracket update(*VT);
    const PVirtualNode row = VT->AddChild(nullptr);
    TFileNodeData& data = VT->GetNodeData(row);
    data.SetText(TFieldKind::FileName, FolderDisplayName(directory));
    data.SetText(TFieldKind::FullPath, directory);
    data.SetText(TFieldKind::FileExt, EncodeFileName(folderDialog.Ext()));
    SetAge(row, std::to_string(folderDialog.Age()));
    SetKeep(row, EncodeFileName(folderDialog.Keep()));
}

void TfmSetting::SetKeep(PVirtualNode row, const std::string& text) {
    // A pattern is never wrong (see scan/KeepPatterns.h): whatever is typed is taken.
    const QString keep = BareKeepPatterns(DecodeFileName(text));
    if (keep.isEmpty()) {
        keeps_.erase(row);
    } else {
        keeps_[row] = EncodeFileName(keep);
    }
}

void TfmSetting::SetAge(PVirtualNode row, const std::string& text) {
    const QString age = QString::fromStdString(text).trimmed();
    if (age.isEmpty()) {
        ages_.erase(row);
        return;
    }
    const std::optional<std::int32_t> days = AgeDaysOf(age);
    if (!days) {
        // Whole days only: what was there stays.
        QApplication::beep();
    } else if (*days == 0) {
        ages_.erase(row);
    } else {
        ages_[row] = std::to_string(*days);
    }
}

void TfmSetting::btnDelClick() {
    if (const PVirtualNode node = VT->FocusedNode()) {
        ages_.erase(node);
        keeps_.erase(node);
        VT->DeleteNode(node);
        ClearFocusedRow();
    }
}

void TfmSetting::ClearFocusedRow() {
    // A row the user did not pick must never be the one deleted. The view would otherwise make
    // the first row current as soon as it gets the keyboard focus, and a deleted row's
    // neighbour current after a deletion, neither of them visibly selected.
    VT->setCurrentIndex(QModelIndex());
    VT->selectionModel()->clearSelection();
}

void TfmSetting::btnOpenClick() {
    OpenRowFolder(*VT);
}

void TfmSetting::VTDblClick(TVirtualStringTree& sender) {
    OpenRowFolder(sender);
}

void TfmSetting::btnExitClick() {
    reject();
}

void TfmSetting::FormClose() {
    if (!listRead_) {
        // The grid never showed the document's folders: writing it back would replace folders
        // the user never saw, should the file have become readable meanwhile.
        throw InOutError("the configuration file could not be read when this dialog opened");
    }
    GetConfig().GetRoot()->GetFolders()->Clear();
    for (PVirtualNode node = VT->GetFirst(); node != nullptr; node = VT->GetNext(node)) {
        const TFileNodeData& data = VT->GetNodeData(node);
        const auto folder = GetConfig().GetRoot()->GetFolders()->Add();
        folder->SetName(DecodeFileName(data.FileName()));
        folder->SetFullpath(DecodeFileName(data.FullPath()));
        folder->SetExt(DecodeFileName(data.FileExt()));
        // Only a folder with an age carries one; a value that is no number stays as written.
        if (const auto age = ages_.find(node); age != ages_.end()) {
            folder->SetAgeText(DecodeFileName(age->second));
        }
        if (const auto keep = keeps_.find(node); keep != keeps_.end()) {
            folder->SetKeep(DecodeFileName(keep->second));
        }
    }
    // Only a change is written, so that a document without the choice stays as it was.
    if (cbTrash->isChecked() != trashRead_) {
        GetConfig().GetRoot()->SetTrash(cbTrash->isChecked());
    }
    GetConfig().Save();
}

void TfmSetting::done(int result) {
    if (std::exchange(open_, false)) {
        try {
            FormClose();
        } catch (const std::exception& failure) {
            // Keeping the dialog open would not help: the cause outlasts any retry the user
            // can make from here. The document keeps the new list for a later save.
            ShowMessage({this,
                         tr("The folder list could not be saved.\n\n%1")
                             .arg(QFile::decodeName(failure.what())),
                         QApplication::applicationName(), QMessageBox::Warning, QMessageBox::Ok});
        }
    }
    QDialog::done(result);
}

}  // namespace purgala
