#pragma once
// The main window: a command bar, the "Check All" strip, the result tree and a status bar. It
// only dispatches the user's commands; the work lies in the scanner, the tree controller, the
// deletion and the dialogs.

#include <QMainWindow>

#include "platform/VirtualTree.h"

class QAction;
class QCheckBox;
class QFrame;
class QStatusBar;
class QLabel;
class QToolButton;

namespace purgala {

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
    QLabel* SBPanel0;  // the status bar's first panel: where failures are shown
    QLabel* SBPanel1;

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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QToolButton* MakeCommandButton(QWidget* bar, const QString& caption, int x, int pictureKind);
    // A command starts with a clean status line: the failure text of an earlier one goes.
    void BeginCommand();
    void ShowFailure(const QString& text);

    QFrame* Panel5;
    QFrame* Panel2;
    QFrame* Panel3;
    QFrame* Panel6;
    bool shown_ = false;
};

}  // namespace purgala
