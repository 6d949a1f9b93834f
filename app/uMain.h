#pragma once
// The main window: a command bar, the "Check All" strip, the result tree and a status bar. It
// only dispatches the user's commands; the work lies in the scanner, the tree controller, the
// deletion and the dialogs.

#include <QMainWindow>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/VirtualTree.h"
#include "scan/CheckTemps.h"
#include "scan/KeepRules.h"

class QAbstractButton;
class QAction;
class QCheckBox;
class QFrame;
class QStatusBar;
class QLabel;
class QToolButton;

namespace purgala {

class TLongWork;

class TFMMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFMMain(QWidget* parent = nullptr);
    ~TFMMain() override;

    // The design caption, kept when the set-up fails before the real one is set.
    static constexpr const char* kDesignCaption = "Vontra Purgala ";
    static constexpr const char* kCaption = "Vontra Purgala 2.5.3";

    TVirtualStringTree* VT;
    QCheckBox* cbCheckAll;
    QToolButton* btnOpenFile;    // "&Check Temps"
    QToolButton* btnOpenFolder;  // "&Delete"
    QToolButton* SpeedButton3;   // "&Open Folder"
    QToolButton* btnApply;       // "&Setting"
    QToolButton* SpeedButton2;   // "&Exit"
    QAction* m1;                 // "About"
    QAction* Help1;              // "Help"
    QStatusBar* SB;
    QLabel* SBPanel0;  // the status bar's first panel: totals, progress and failures
    QLabel* SBPanel1;

    // The moment "&Check Temps" starts, in nanoseconds since the epoch: what "recent" is
    // measured from. The wall clock, or a test's.
    std::function<std::int64_t()> Clock = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };

    // Reader threads of "&Check Temps"; 0: one per core.
    unsigned ScanReaders = 0;
    // A long command runs: the commands that would conflict with it are refused.
    bool Busy() const { return work_ != nullptr; }

    void FormShow();
    void btnOpenFileClick();
    void cbCheckAllClick();
    void VTInitNode(TVirtualStringTree& sender, PVirtualNode parent, PVirtualNode node);
    void btnOpenFolderClick();
    void SpeedButton3Click();
    void VTDblClick(TVirtualStringTree& sender);
    void btnApplyClick();
    void m1Click();
    void Help1Click();
    void SpeedButton2Click();
    void FormClose();
    // The user toggled one row's box.
    void VTChecked(TVirtualStringTree& sender, PVirtualNode node);

    // "12,345", with the user's thousands separator.
    static QString CountText(std::size_t count);
    // "12,345 files", "1 file".
    static QString FilesText(std::size_t count);
    // "12,345 files (3.21 GB)"; `withWord` false drops the word "files".
    static QString TotalsText(const TFileCount& totals, bool withWord = true);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The button's click runs `handler`, unless a long command runs: then the click stops it if
    // it is its own button, and is refused otherwise.
    std::function<void()> CommandSlot(QAbstractButton* button, void (TFMMain::*handler)());
    // Runs `slice` (see TLongWork) as the long command of `button` (none for work no button
    // started), which `stop` stops; true when the user stopped it. A close that arrived
    // meanwhile follows once it ends.
    bool RunLong(QAbstractButton* button,
                 const std::function<bool(std::chrono::steady_clock::time_point)>& slice,
                 std::function<void()> stop);
    QToolButton* MakeCommandButton(QWidget* bar, const QString& caption, int x, int pictureKind);
    // A command starts with a clean status line: the failure text of an earlier one goes, and
    // the totals come back.
    void BeginCommand();
    void ShowFailure(const QString& text);
    // The first panel: `lead` (if any), then what is listed and what is checked, and the
    // folders that could not be read (named in its tooltip).
    void ShowTotals(const QString& lead = {});
    static QString UnreadableText(const std::vector<TUnreadableFolder>& folders);
    // While no folder is configured, the empty grid says where they come from.
    void ShowWhatToDo();
    // The question's secondary text: what is checked, in how many folders, how big.
    QString CheckedSummary() const;

    QFrame* Panel5;
    QFrame* Panel2;
    QFrame* Panel3;
    QFrame* Panel6;
    bool shown_ = false;
    // The rows the grid shows; the scan fills them and "&Delete" empties them.
    std::shared_ptr<TResultTree> rows_ = std::make_shared<TResultTree>();
    // Kept as rows come, go and change their check state, so that no change costs a walk:
    // `kept` are unchecked by the rules (recent, in use, another user's), not yet by the user.
    TCheckTotals totals_;
    TRowRules rules_;         // what the last scan judged the rows by, for the hints
    bool hasTotals_ = false;  // a scan has filled the tree
    // What the last "&Check Temps" could not read, and how many folders it listed.
    std::vector<TUnreadableFolder> unreadable_;
    std::size_t foldersChecked_ = 0;
    bool listedNothing_ = false;
    TLongWork* work_ = nullptr;  // the long command running, if any
    bool closeAfterWork_ = false;
};

}  // namespace purgala
