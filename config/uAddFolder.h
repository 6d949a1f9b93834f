#pragma once
// The add-folder dialog: the user browses to one folder, starting at the process's working
// folder, says whether all its files count or only those with some extensions, and what in it
// is to be left alone.

#include <QDialog>
#include <QListWidget>
#include <QRadioButton>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "scan/KnownPlaces.h"

class QComboBox;
class QFontMetrics;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QTreeWidget;

namespace purgala {

// Shortens a folder path to `width` pixels by putting "..." in place of its leading folder
// names; a path that fits comes back unchanged.
QString MinimizeName(const QString& path, const QFontMetrics& metrics, int width);

// A folder list of one file system: the folders from the root down to the current folder, then
// the current folder's sub-folders. Opening an entry makes it the current folder, and the
// process's working folder too, so that the next list opens where this one was left.
class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget* parent = nullptr);

    // The current folder: a full path, without a trailing "/" except for the root.
    QString Directory() const { return directory_; }
    // The folder the user picked: the highlighted entry, or the current folder when none is.
    // Every folder picker on the desktop takes what is highlighted; taking the folder last
    // opened instead once listed a whole home folder for deletion.
    QString Chosen() const;
    // Enters `path`. Throws InOutError when it cannot be entered; the list then stays as it was.
    void SetDirectory(const QString& path);
    // Enters the folder of the entry in `row` (an ancestor or a sub-folder).
    void OpenEntry(int row);

    // Runs after every change of the current folder, and of the highlighted entry.
    std::function<void()> OnChange;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Fill();

    QString directory_;
    bool filling_ = false;  // the entries are being replaced: no entry is picked meanwhile
};

// A radio button whose caption wraps over several lines within the button's width.
class TWrapRadioButton : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

class TfmFolder : public QDialog {
    Q_OBJECT
public:
    explicit TfmFolder(QWidget* owner = nullptr);

    QLabel* lblfolder;
    QComboBox* dcb;
    TDirectoryListBox* dlb;
    QGroupBox* GroupBox1;
    QRadioButton* rb1;  // "Check all files"
    QRadioButton* rb3;  // "Check files special with extensions: "
    QLabel* Label2;
    QLineEdit* EdExt2;
    QLabel* lblAge;
    QSpinBox* spAge;  // days; 0 is no age
    QLabel* lblKeep;
    QLineEdit* edKeep;  // keep patterns, see scan/KeepPatterns.h
    QLabel* lblPlaces;
    QTreeWidget* lvPlaces;  // well-known places: place, what it keeps, what it holds now
    QPushButton* BitBtn2;   // "Cancel"
    QPushButton* BitBtn3;   // "OK"

    void BitBtn3Click();
    void BitBtn2Click();
    void dcbChange();

    // The results, read once the dialog has closed with Accepted: the folder highlighted in dlb
    // (the one last opened, unless another entry was picked since), the extensions of the
    // extension box bare ("*.tmp; .log" gives "tmp;log"), and the keep patterns without blanks
    // around them.
    QString Directory() const { return dlb->Chosen(); }
    QString Ext() const;
    QString Keep() const;
    // The age in whole days below which files start unchecked; 0 for none.
    int Age() const;

    // Lists `places` under the folder list and starts counting what each holds; the dialog
    // starts with those of this user that exist. Selecting one fills in folder, extension and
    // age; nothing is added without "OK".
    void ShowPlaces(std::vector<TKnownPlace> places);
    const std::vector<TKnownPlace>& Places() const { return places_; }
    // Counted every place, with no slice of the work left.
    bool PlacesMeasured() const { return !measure_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FillDrives();
    void DirectoryChanged();
    void MeasurePlaces();
    void PlaceChosen();

    std::vector<TKnownPlace> places_;
    std::unique_ptr<TPlaceMeasure> measure_;
    QTimer* measureTimer_;
};

}  // namespace purgala
