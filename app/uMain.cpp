#include "app/uMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/LongWork.h"
#include "app/Progress.h"
#include "app/UAbout.h"
#include "config/Config.h"
#include "config/uOptions.h"
#include "platform/Colors.h"
#include "platform/Dialogs.h"
#include "platform/Failures.h"
#include "platform/FileNames.h"
#include "platform/OpenFiles.h"
#include "platform/SpeedButton.h"
#include "scan/FACtrl.h"
#include "scan/FolderSpec.h"
#include "scan/ResultRows.h"
#include "scan/ShownTexts.h"
#include "util/FileUtils.h"
#include "util/ListedFile.h"
#include "util/ShellActions.h"

namespace purgala {

namespace {

const QColor kTreeColor(239, 243, 255);
const QColor kHeaderColor(123, 170, 255);

QFrame* MakePanel(QWidget* parent, QFrame::Shadow shadow) {
    auto* panel = new QFrame(parent);
    panel->setFrameShape(shadow == QFrame::Plain ? QFrame::NoFrame : QFrame::Panel);
    panel->setFrameShadow(shadow);
    return panel;
}

}  // namespace

TFMMain::TFMMain(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(kDesignCaption);
    resize(926, 478);

    auto* client = new QWidget(this);
    auto* clientLayout = new QVBoxLayout(client);
    clientLayout->setContentsMargins(0, 0, 0, 0);
    clientLayout->setSpacing(0);
    setCentralWidget(client);

    // The command bar: five flat buttons at fixed places, as on the design.
    Panel5 = MakePanel(client, QFrame::Plain);
    Panel5->setObjectName("Panel5");
    Panel5->setFixedHeight(44);
    btnOpenFile = MakeCommandButton(Panel5, tr("&Check Temps"), 2, QStyle::SP_BrowserReload);
    btnOpenFolder = MakeCommandButton(Panel5, tr("&Delete"), 121, QStyle::SP_TrashIcon);
    SpeedButton3 = MakeCommandButton(Panel5, tr("&Open Folder"), 239, QStyle::SP_DirOpenIcon);
    btnApply = MakeCommandButton(Panel5, tr("&Setting"), 358, QStyle::SP_FileDialogDetailedView);
    SpeedButton2 = MakeCommandButton(Panel5, tr("&Exit"), 478, QStyle::SP_DialogCloseButton);
    btnOpenFile->setObjectName("btnOpenFile");
    btnOpenFolder->setObjectName("btnOpenFolder");
    SpeedButton3->setObjectName("SpeedButton3");
    btnApply->setObjectName("btnApply");
    SpeedButton2->setObjectName("SpeedButton2");
    clientLayout->addWidget(Panel5);

    // The result area: a lowered outer and a raised inner frame around the strip and the tree.
    Panel2 = MakePanel(client, QFrame::Sunken);
    Panel2->setObjectName("Panel2");
    auto* outer = new QVBoxLayout(Panel2);
    outer->setContentsMargins(1, 1, 1, 1);
    Panel3 = MakePanel(Panel2, QFrame::Raised);
    Panel3->setObjectName("Panel3");
    outer->addWidget(Panel3);
    auto* inner = new QVBoxLayout(Panel3);
    inner->setContentsMargins(1, 1, 1, 1);
    inner->setSpacing(0);
    clientLayout->addWidget(Panel2, 1);

    Panel6 = MakePanel(Panel3, QFrame::Plain);
    Panel6->setObjectName("Panel6");
    Panel6->setFixedHeight(34);
    Panel6->setAutoFillBackground(true);
    QPalette stripPalette = Panel6->palette();
    SetFixedBackground(stripPalette, QPalette::Window, QPalette::WindowText, kTreeColor);
    Panel6->setPalette(stripPalette);
    cbCheckAll = new QCheckBox(tr("Check All"), Panel6);
    cbCheckAll->setObjectName("cbCheckAll");
    cbCheckAll->move(9, 8);
    cbCheckAll->setMinimumSize(69, 17);
    cbCheckAll->adjustSize();
    cbCheckAll->setChecked(true);
    inner->addWidget(Panel6);

    VT = new TVirtualStringTree(rows_, Panel3);
    VT->setObjectName("VT");
    QPalette treePalette = VT->palette();
    SetFixedBackground(treePalette, QPalette::Base, QPalette::Text, kTreeColor);
    // The expand arrows are drawn in the window text colour on the rows' background; the scroll
    // bars use that colour on the theme's own background and keep the theme's.
    SetReadableText(treePalette, QPalette::WindowText, kTreeColor);
    // The selection keeps its colour when the tree loses the focus.
    treePalette.setColor(QPalette::Inactive, QPalette::Highlight,
                         treePalette.color(QPalette::Active, QPalette::Highlight));
    treePalette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                         treePalette.color(QPalette::Active, QPalette::HighlightedText));
    VT->setPalette(treePalette);
    KeepThemeColor(*VT->horizontalScrollBar(), QPalette::WindowText);
    KeepThemeColor(*VT->verticalScrollBar(), QPalette::WindowText);
    QPalette headerPalette = VT->header()->palette();
    SetFixedBackground(headerPalette, QPalette::Button, QPalette::ButtonText, kHeaderColor);
    SetFixedBackground(headerPalette, QPalette::Window, QPalette::WindowText, kHeaderColor);
    VT->header()->setPalette(headerPalette);
    VT->setMouseTracking(true);  // hot tracking
    VT->OnInitNode = [this](TVirtualStringTree& sender, PVirtualNode parent, PVirtualNode node) {
        VTInitNode(sender, parent, node);
    };
    VT->OnDblClick = [this](TVirtualStringTree& sender) { VTDblClick(sender); };
    VT->OnChecked = [this](TVirtualStringTree& sender, PVirtualNode node) {
        VTChecked(sender, node);
    };
    VT->OnChecking = [this](TVirtualStringTree&, PVirtualNode) { return !Busy(); };
    VT->RunLong = [this](const std::function<bool(std::chrono::steady_clock::time_point)>& slice) {
        RunLong(nullptr, slice, {});
    };
    inner->addWidget(VT, 1);

    SB = new QStatusBar(this);
    SB->setObjectName("SB");
    SB->setSizeGripEnabled(true);
    SBPanel0 = new QLabel(SB);
    // The summary takes the width the window leaves it, 700 pixels at the least, so that it is
    // cut only where the window itself is too narrow; its text never widens the window.
    SBPanel0->setMinimumWidth(700);
    SBPanel0->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    SBPanel1 = new QLabel(SB);
    SBPanel1->setFixedWidth(50);
    SB->addWidget(SBPanel0, 1);
    SB->addWidget(SBPanel1);
    setStatusBar(SB);

    m1 = menuBar()->addAction(tr("About"));
    m1->setObjectName("m1");
    Help1 = menuBar()->addAction(tr("Help"));
    Help1->setObjectName("Help1");

    connect(btnOpenFile, &QToolButton::clicked, this,
            CommandSlot(btnOpenFile, &TFMMain::btnOpenFileClick));
    connect(btnOpenFolder, &QToolButton::clicked, this,
            CommandSlot(btnOpenFolder, &TFMMain::btnOpenFolderClick));
    connect(SpeedButton3, &QToolButton::clicked, this,
            GuardedSlot(this, &TFMMain::SpeedButton3Click));
    connect(btnApply, &QToolButton::clicked, this, CommandSlot(btnApply, &TFMMain::btnApplyClick));
    connect(SpeedButton2, &QToolButton::clicked, this,
            GuardedSlot(this, &TFMMain::SpeedButton2Click));
    // clicked, not toggled: only the user's own toggling runs the handler.
    connect(cbCheckAll, &QCheckBox::clicked, this, GuardedSlot(this, &TFMMain::cbCheckAllClick));
    connect(m1, &QAction::triggered, this, GuardedSlot(this, &TFMMain::m1Click));
    connect(Help1, &QAction::triggered, this, GuardedSlot(this, &TFMMain::Help1Click));
}

TFMMain::~TFMMain() {
    // The tree outlives this object's own part of the destruction: none of its handlers may
    // call back into the window or the controller from here on.
    VT->OnInitNode = nullptr;
    VT->OnDblClick = nullptr;
    VT->OnChecked = nullptr;
    VT->OnChecking = nullptr;
    VT->RunLong = nullptr;
    FormClose();
    SetErrorHandler({});
}

QToolButton* TFMMain::MakeCommandButton(QWidget* bar, const QString& caption, int x,
                                        int pictureKind) {
    auto* button = new TSpeedButton(bar);
    button->setText(caption);
    button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(pictureKind)));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setGeometry(x, 2, 113, 37);
    return button;
}

void TFMMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TFMMain::closeEvent(QCloseEvent* event) {
    // Work on the disk is never left half-done: it stops first, and the window closes after.
    if (work_ != nullptr) {
        closeAfterWork_ = true;
        work_->Stop();
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

QString TFMMain::CountText(std::size_t count) {
    return purgala::CountText(count);
}

QString TFMMain::FilesText(std::size_t count) {
    return purgala::FilesText(count);
}

QString TFMMain::TotalsText(const TFileCount& totals, bool withWord) {
    return purgala::TotalsText(totals, withWord);
}

void TFMMain::BeginCommand() {
    ShowTotals();
}

void TFMMain::ShowTotals(const QString& lead) {
    QString text = lead;
    QString names;
    if (hasTotals_) {
        if (!text.isEmpty()) {
            text += QStringLiteral("; ");
        }
        text += CheckTotalsText(totals_, foldersChecked_, listedNothing_, unreadable_.size());
        names = UnreadableText(unreadable_);
    }
    SBPanel0->setText(text);
    SBPanel0->setToolTip(names.isEmpty() ? text : text + QStringLiteral("\n\n") + names);
}

QString TFMMain::UnreadableText(const std::vector<TUnreadableFolder>& folders) {
    // A tooltip is no list to scroll: the first few, and how many more.
    return purgala::UnreadableText(folders, 20);
}

void TFMMain::ShowWhatToDo() {
    bool noFolders = false;
    try {
        noFolders = GetConfig().GetRoot()->GetFolders()->GetCount() == 0;
    } catch (const std::exception&) {
        // What the document lacks the status bar says already.
    }
    VT->SetEmptyText(noFolders ? tr("No folders to check yet.\n\nAdd them under Setting; Check "
                                    "Temps then lists their files here.")
                               : QString());
}

void TFMMain::VTChecked(TVirtualStringTree& sender, PVirtualNode node) {
    if (sender.GetNodeLevel(node) == 0) {
        return;
    }
    TFileNodeData& data = sender.GetNodeData(node);
    const bool checked = sender.CheckState(node) == TCheckState::Checked;
    if (checked) {
        totals_.checked.Add(data.Size());
    } else {
        totals_.checked.Remove(data.Size());
    }
    // Once the user set the box, the row is the user's: no longer muted, no longer counted.
    if (data.KeptBy() != TKeepReason::None) {
        if (checked) {
            totals_.kept.Remove(data.Size());
        }
        data.SetKeptBy(TKeepReason::None);
        sender.viewport()->update();
    }
    ShowTotals();
}

void TFMMain::ShowFailure(const QString& text) {
    SBPanel0->setText(text);
    SBPanel0->setToolTip(text);
}

void TFMMain::FormShow() {
    // The tree turns icon indexes into icons through the process-wide list; nothing to bind.
    // Failures are not shown in a box, but the user sees why a command stopped.
    SetErrorHandler([window = QPointer<TFMMain>(this)](const std::string& message) {
        if (window) {
            window->ShowFailure(QString::fromStdString(message));
        }
    });
    FACtrl = std::make_unique<TFACtrl>(*this, *VT);
    FACtrl->Keep = &rules_;
    // No sorting while a long command adds or takes rows.
    VT->OnHeaderClick = [this, sort = VT->OnHeaderClick](TVirtualStringTree& sender, int column,
                                                         Qt::MouseButton button) {
        if (!Busy() && sort) {
            sort(sender, column, button);
        }
    };
    // The keyboard goes to the rows: Check Temps, then the arrows and space pick what stays.
    VT->setFocus();
    try {
        const auto root = GetConfig().GetRoot();
        FACtrl->BuildColumns(*VT, root->GetNodes());
        setWindowTitle(kCaption);
        ShowWhatToDo();
    } catch (const std::exception& e) {
        // Set-up runs outside any event handler's guard; it ends like a failed command.
        HandleError(e.what());
    }
}

std::function<void()> TFMMain::CommandSlot(QAbstractButton* button, void (TFMMain::*handler)()) {
    return [this, button, handler] {
        RunGuarded([&] {
            if (work_ == nullptr) {
                (this->*handler)();
            } else if (work_->Button() == button) {
                work_->Stop();
            }
        });
    };
}

bool TFMMain::RunLong(QAbstractButton* button,
                      const std::function<bool(std::chrono::steady_clock::time_point)>& slice,
                      std::function<void()> stop) {
    std::vector<QWidget*> refused;
    for (QWidget* widget :
         std::initializer_list<QWidget*>{btnOpenFile, btnOpenFolder, btnApply, cbCheckAll}) {
        if (widget != button) {
            refused.push_back(widget);
        }
    }
    bool stopped = false;
    {
        TLongWork work(*this, button, std::move(refused), std::move(stop));
        work_ = &work;
        const auto done = qScopeGuard([this] { work_ = nullptr; });
        work.Run(slice);
        stopped = work.Stopped();
    }
    if (closeAfterWork_) {
        closeAfterWork_ = false;
        close();
    }
    return stopped;
}

void TFMMain::btnOpenFileClick() {
    if (Busy()) {
        return;
    }
    BeginCommand();
    VT->Clear();
    totals_ = {};
    unreadable_.clear();
    foldersChecked_ = 0;
    listedNothing_ = false;
    hasTotals_ = false;
    // Also when a failure stops the scan: the rows made so far are counted and shown later.
    const auto showLater = qScopeGuard([this] { hasTotals_ = VT->RootNodeCount() > 0; });
    if (GetConfig().GetRoot()->GetFolders()->GetCount() == 0) {
        btnApplyClick();
    }
    std::vector<TFolderSpec> setups = FolderSpecsOf(GetConfig().GetRoot()->GetFolders());
    if (setups.empty()) {
        ShowTotals(tr("No folders to check: add them under Setting"));
        return;
    }
    const std::int64_t start = Clock();
    rules_.Start(start);
    TResultRows rows(*rows_, rules_);
    TProgressReporter progress(*SBPanel0);
    TCheckTempsOptions options;
    options.readers = ScanReaders;
    options.startNanos = start;
    options.progress = [&](const TScanFolder& folder, std::size_t listed) {
        progress.Step([&] { return ScanningText(folder.PathWith({}), listed); });
    };
    TCheckTemps run(std::move(setups), rows, std::move(options));
    const bool stopped = RunLong(
        btnOpenFile,
        [&run](std::chrono::steady_clock::time_point deadline) { return run.Step(deadline); },
        [&run] { run.Stop(); });
    const TCheckTempsResult& result = run.Result();
    rules_.SetOpenFiles(result.openFiles);
    totals_ = result.totals;
    unreadable_ = result.unreadable;
    foldersChecked_ = run.Setups().size();
    listedNothing_ = totals_.listed.count == 0 && !stopped;
    hasTotals_ = VT->RootNodeCount() > 0;
    const QString lead = CheckLeadText(result, run.Setups(), stopped);
    ShowTotals(lead);
}

void TFMMain::cbCheckAllClick() {
    if (Busy()) {
        return;  // the box itself is disabled meanwhile
    }
    BeginCommand();
    const TCheckState state =
        cbCheckAll->isChecked() ? TCheckState::Checked : TCheckState::Unchecked;
    // The user's explicit word: rows the rules left unchecked are the user's now.
    rows_->SetAllCheckStates(state, [](TFileNodeData& data) { data.SetKeptBy(TKeepReason::None); });
    totals_.checked = state == TCheckState::Checked ? totals_.listed : TFileCount{};
    totals_.kept = {};
    ShowTotals();
}

void TFMMain::VTInitNode(TVirtualStringTree& sender, PVirtualNode, PVirtualNode node) {
    if (sender.GetNodeLevel(node) > 0) {
        sender.SetCheckType(node, TCheckType::CheckBox);
    }
}

void TFMMain::SpeedButton3Click() {
    BeginCommand();
    OpenRowFolder(*VT);
}

void TFMMain::VTDblClick(TVirtualStringTree& sender) {
    BeginCommand();
    OpenRowFolder(sender);
}

void TFMMain::btnApplyClick() {
    if (Busy()) {
        return;
    }
    BeginCommand();
    TfmSetting dialog(nullptr);
    ShowModal(dialog);
    ShowWhatToDo();
}

void TFMMain::m1Click() {
    BeginCommand();
    TFMAbout about(this);
    ShowModal(about);
}

void TFMMain::Help1Click() {
    BeginCommand();
    OpenHomePage();
}

void TFMMain::SpeedButton2Click() {
    close();
}

void TFMMain::FormClose() {
    // The controller detaches its handlers from the tree as it goes.
    FACtrl.reset();
}

}  // namespace purgala
