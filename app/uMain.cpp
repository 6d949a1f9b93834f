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
#include "scan/Scanner.h"
#include "util/FileUtils.h"
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

    VT = new TVirtualStringTree(Panel3);
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
    inner->addWidget(VT, 1);

    SB = new QStatusBar(this);
    SB->setObjectName("SB");
    SB->setSizeGripEnabled(true);
    SBPanel0 = new QLabel(SB);
    SBPanel0->setFixedWidth(700);
    SBPanel1 = new QLabel(SB);
    SBPanel1->setFixedWidth(50);
    SB->addWidget(SBPanel0);
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
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale.toString(static_cast<qulonglong>(count));
}

QString TFMMain::FilesText(std::size_t count) {
    return count == 1 ? tr("1 file") : tr("%1 files").arg(CountText(count));
}

QString TFMMain::TotalsText(const TFileTotals& totals, bool withWord) {
    return QStringLiteral("%1 (%2)").arg(
        withWord ? FilesText(totals.count) : CountText(totals.count),
        TFACtrl::SizeText(static_cast<double>(totals.bytes)));
}

std::uint64_t TFMMain::RowBytes(TVirtualStringTree& tree, PVirtualNode row) {
    const std::int64_t size = tree.GetNodeData(row).Size();
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

void TFMMain::BeginCommand() {
    ShowTotals();
}

void TFMMain::ShowTotals(const QString& lead) {
    QString text = lead;
    if (hasTotals_) {
        if (!text.isEmpty()) {
            text += QStringLiteral("; ");
        }
        text += tr("%1 listed, %2 checked")
                    .arg(TotalsText(listed_), TotalsText(checked_, /*withWord=*/false));
        if (kept_.count > 0) {
            text += tr(", %1 left unchecked as recent or in use").arg(CountText(kept_.count));
        }
    }
    SBPanel0->setText(text);
    SBPanel0->setToolTip(text);
}

void TFMMain::VTChecked(TVirtualStringTree& sender, PVirtualNode node) {
    if (sender.GetNodeLevel(node) == 0) {
        return;
    }
    if (sender.CheckState(node) == TCheckState::Checked) {
        checked_.Add(RowBytes(sender, node));
    } else {
        checked_.Remove(RowBytes(sender, node));
    }
    // Once the user set the box, the row is the user's: no longer muted, no longer counted.
    TFileNodeData& data = sender.GetNodeData(node);
    if (data.KeptBy() != TKeepReason::None) {
        if (sender.CheckState(node) == TCheckState::Checked) {
            kept_.Remove(RowBytes(sender, node));
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
    FACtrl->Keep = &keep_;
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

bool TFMMain::RunLong(QAbstractButton& button,
                      const std::function<bool(std::chrono::steady_clock::time_point)>& slice,
                      std::function<void()> stop) {
    std::vector<QWidget*> refused;
    for (QWidget* widget :
         std::initializer_list<QWidget*>{btnOpenFile, btnOpenFolder, btnApply, cbCheckAll}) {
        if (widget != &button) {
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
    listed_ = {};
    checked_ = {};
    kept_ = {};
    hasTotals_ = false;
    // Also when a failure stops the scan: the rows made so far are counted and shown later.
    const auto showLater = qScopeGuard([this] { hasTotals_ = VT->RootNodeCount() > 0; });
    if (GetConfig().GetRoot()->GetFolders()->GetCount() == 0) {
        btnApplyClick();
    }
    const std::int64_t start = Clock();
    keep_.Start(start);
    // The open files are gathered while the folders are read; what is left when the rows are
    // made is gathered here too.
    TOpenFilesCollector openFiles;
    openFiles.StartHelper();
    const auto folders = GetConfig().GetRoot()->GetFolders();
    const int count = folders->GetCount();
    TProgressReporter progress(*SBPanel0);
    QString badAge;
    int badAges = 0;
    TScanPool pool(ScanReaders);
    // The folders one after another, each read by the pool while its rows are made here.
    int next = 0;
    std::optional<TFolderKeep> rule;
    std::unique_ptr<TFolderScan> scan;
    std::string stoppedIn;
    const auto finishFolder = [&] {
        if (pool.Stopped()) {
            stoppedIn = scan->CurrentFolder();
        }
        const PVirtualNode row = scan->FolderRow();
        const auto done = qScopeGuard([&] { scan.reset(); });
        if (row == nullptr) {
            return;
        }
        if (rule->HasRule()) {
            keep_.SetFolder(row, *rule);
        }
        const TFolderScan::TTotals& totals = scan->Totals();
        listed_.count += totals.listed;
        listed_.bytes += totals.listedBytes;
        checked_.count += totals.checked;
        checked_.bytes += totals.checkedBytes;
        kept_.count += totals.kept;
        kept_.bytes += totals.keptBytes;
    };
    const TScanProgress showProgress = [&](const TScanFolder& dir, std::size_t listed) {
        progress.Step([&] {
            return tr("Scanning %1: %2 found so far")
                .arg(DecodeFileName(dir.PathWith({})), FilesText(listed_.count + listed));
        });
    };
    const bool stopped = RunLong(
        *btnOpenFile,
        [&](std::chrono::steady_clock::time_point deadline) {
            while (next < count || scan) {
                if (!scan) {
                    if (pool.Stopped()) {
                        if (stoppedIn.empty()) {
                            stoppedIn = EncodeFileName(folders->GetFolder(next)->GetFullpath());
                        }
                        break;
                    }
                    const auto folder = folders->GetFolder(next++);
                    const std::string ext = EncodeFileName(folder->GetExt());
                    const std::string fullPath = EncodeFileName(folder->GetFullpath());
                    rule = TFolderKeep::Of(folder->GetAgeText(), start);
                    if (rule->badAge && badAges++ == 0) {
                        badAge = tr("The age \"%1\" of %2 is not a whole number of days: none "
                                    "of its files was checked")
                                     .arg(rule->ageText, folder->GetFullpath());
                    }
                    scan = std::make_unique<TFolderScan>(pool, *VT, fullPath, ext,
                                                         rule->HasRule() ? &*rule : nullptr);
                }
                if (!scan->Step(deadline, showProgress)) {
                    return false;
                }
                finishFolder();
                if (std::chrono::steady_clock::now() >= deadline) {
                    return false;
                }
            }
            return openFiles.Finish(deadline);
        },
        [&pool] { pool.Stop(); });
    const TKeptCount inUse = keep_.KeepOpenFiles(*VT, openFiles.Take());
    checked_.count -= inUse.files;
    checked_.bytes -= inUse.bytes;
    kept_.count += inUse.files;
    kept_.bytes += inUse.bytes;
    hasTotals_ = VT->RootNodeCount() > 0;
    if (badAges > 1) {
        badAge += tr(" (and %1 more folders)").arg(badAges - 1);
    }
    if (stopped) {
        const QString where = tr("Stopped while scanning %1").arg(DecodeFileName(stoppedIn));
        badAge = badAge.isEmpty() ? where : where + QStringLiteral("; ") + badAge;
    }
    ShowTotals(badAge);
}

void TFMMain::cbCheckAllClick() {
    if (Busy()) {
        return;  // the box itself is disabled meanwhile
    }
    BeginCommand();
    const TCheckState state =
        cbCheckAll->isChecked() ? TCheckState::Checked : TCheckState::Unchecked;
    VT->BeginUpdate();
    for (PVirtualNode node = VT->GetFirst(); node != nullptr; node = VT->GetNext(node)) {
        VT->SetCheckState(node, state);
        // The user's explicit word: rows the rules left unchecked are the user's now.
        VT->GetNodeData(node).SetKeptBy(TKeepReason::None);
    }
    VT->EndUpdate();
    checked_ = state == TCheckState::Checked ? listed_ : TFileTotals{};
    kept_ = {};
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
