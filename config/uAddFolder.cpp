#include "config/uAddFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStorageInfo>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Colors.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/Failures.h"
#include "scan/FolderSpec.h"
#include "scan/ShownTexts.h"

namespace purgala {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLevelRole = Qt::UserRole + 1;
constexpr int kIndent = 10;
constexpr int kRowHeight = 16;

const QString kEllipsis = QStringLiteral("...");

// The root of the mounted file system that holds `path`.
QString VolumeRoot(const QString& path) {
    const QStorageInfo storage(path);
    return storage.isValid() ? storage.rootPath() : QStringLiteral("/");
}

// Each file system keeps the folder last opened on it for the rest of the run, so that choosing
// it again in the drive list goes back there rather than to its root.
QHash<QString, QString>& LastFolderOfVolume() {
    static QHash<QString, QString> folders;
    return folders;
}

// The folder the last list was left in, as the user walked there. The working folder alone would
// name the target of a link the user opened, not the link.
QString& LastDirectory() {
    static QString directory;
    return directory;
}

bool SameFolder(const QString& a, const QString& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The place as the user knows it: the home spelled "~".
QString PlaceText(const QString& path) {
    const QString home = QDir::homePath();
    if (home != QLatin1String("/") && (path == home || path.startsWith(home + '/'))) {
        return QLatin1Char('~') + path.mid(home.size());
    }
    return path;
}

QString ChildPath(const QString& dir, const QString& name) {
    return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

// Indents each entry by its depth, so the list reads as the branch of a tree it stands for.
class TIndentDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem indented(option);
        indented.rect.setLeft(indented.rect.left() + Indent(index));
        QStyledItemDelegate::paint(painter, indented, index);
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setWidth(size.width() + Indent(index));
        size.setHeight(std::max(kRowHeight, option.fontMetrics.height() + 2));
        return size;
    }

private:
    static int Indent(const QModelIndex& index) { return index.data(kLevelRole).toInt() * kIndent; }
};

}  // namespace

QString MinimizeName(const QString& path, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(path) <= width) {
        return path;
    }
    const QStringList names = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QString root = path.startsWith(QLatin1Char('/')) ? QStringLiteral("/") : QString();
    QString shortest = path;
    for (qsizetype first = 1; first < names.size(); ++first) {
        shortest = root + kEllipsis + QLatin1Char('/') + names.mid(first).join(QLatin1Char('/'));
        if (metrics.horizontalAdvance(shortest) <= width) {
            return shortest;
        }
    }
    // Not even the last name fits: its end goes too.
    return metrics.elidedText(shortest, Qt::ElideRight, width);
}

// ---------------------------------------------------------------------------------------------

TDirectoryListBox::TDirectoryListBox(QWidget* parent) : QListWidget(parent) {
    setItemDelegate(new TIndentDelegate(this));
    setUniformItemSizes(true);
    setIconSize(QSize(kRowHeight, kRowHeight));
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::doubleClicked, this,
            [this](const QModelIndex& index) { RunGuarded([&] { OpenEntry(index.row()); }); });
    connect(this, &QListWidget::currentRowChanged, this, [this] {
        if (OnChange && !filling_) {
            RunGuarded([this] { OnChange(); });
        }
    });
    directory_ = QDir::currentPath();
    if (directory_.isEmpty()) {
        // The working folder was removed under the process: start somewhere that exists.
        directory_ = QDir::homePath();
    } else if (SameFolder(LastDirectory(), QStringLiteral("."))) {
        directory_ = LastDirectory();
    }
    Fill();
}

void TDirectoryListBox::SetDirectory(const QString& path) {
    // The path as walked: opening a link keeps the link's path; ".." goes back up the names.
    const QString target = QDir::cleanPath(QDir(directory_).absoluteFilePath(path));
    const QByteArray bytes = QFile::encodeName(target);
    if (::chdir(bytes.constData()) != 0) {
        throw InOutError(bytes.toStdString() + ": " + std::strerror(errno));
    }
    directory_ = target;
    LastDirectory() = target;
    Fill();
    if (OnChange) {
        OnChange();
    }
}

QString TDirectoryListBox::Chosen() const {
    const QListWidgetItem* entry = currentItem();
    return entry != nullptr ? entry->data(kPathRole).toString() : directory_;
}

void TDirectoryListBox::OpenEntry(int row) {
    if (const QListWidgetItem* entry = item(row)) {
        SetDirectory(entry->data(kPathRole).toString());
    }
}

void TDirectoryListBox::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
        event->accept();
        RunGuarded([this] { OpenEntry(currentRow()); });
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TDirectoryListBox::Fill() {
    filling_ = true;
    const auto filled = qScopeGuard([this] { filling_ = false; });
    clear();
    const QIcon openIcon = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const auto add = [this](const QIcon& icon, const QString& text, const QString& path,
                            int level) {
        auto* entry = new QListWidgetItem(icon, text, this);
        entry->setData(kPathRole, path);
        entry->setData(kLevelRole, level);
        entry->setToolTip(path);
    };

    // The branch from the root down to the current folder.
    add(openIcon, QStringLiteral("/"), QStringLiteral("/"), 0);
    const QStringList names = directory_.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path;
    int level = 0;
    for (const QString& name : names) {
        path += QLatin1Char('/') + name;
        add(openIcon, name, path, ++level);
    }
    setCurrentRow(count() - 1);

    // Hidden folders are listed too: caches, the usual home of temporary files, are hidden.
    const QStringList children = QDir(directory_)
                                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                                                QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QString& child : children) {
        add(closedIcon, child, ChildPath(directory_, child), level + 1);
    }
}

// ---------------------------------------------------------------------------------------------

void TWrapRadioButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    const QString text = option.text;
    option.text.clear();

    QStyleOptionButton indicator = option;
    indicator.rect = style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, this);
    painter.drawPrimitive(QStyle::PE_IndicatorRadioButton, indicator);

    const int spacing = style()->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, &option, this);
    const QRect textRect = rect().adjusted(indicator.rect.right() + 1 + spacing, 0, 0, 0);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    painter.drawItemText(textRect, flags, palette(), isEnabled(), text, QPalette::WindowText);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = style()->itemTextRect(fontMetrics(), textRect, flags, isEnabled(), text);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

bool TWrapRadioButton::hitButton(const QPoint& pos) const {
    // The whole button, wrapped lines included, takes the click.
    return rect().contains(pos);
}

// ---------------------------------------------------------------------------------------------

TfmFolder::TfmFolder(QWidget* owner) : QDialog(owner) {
    setObjectName("fmFolder");
    setWindowTitle(tr("Add Check Folder"));
    // Taller than the folder list by the age and keep rows and the well-known places below
    // them, and wider by what the places need to show their rules and sizes; the folder list
    // takes that width.
    constexpr int kWider = 73;
    setFixedSize(347 + kWider, 422);

    lblfolder = new QLabel(this);
    lblfolder->setObjectName("lblfolder");
    lblfolder->move(16, 8);
    QFont linkFont = lblfolder->font();
    linkFont.setUnderline(true);
    lblfolder->setFont(linkFont);
    QPalette linkPalette = lblfolder->palette();
    // Link blue, unless a dark theme's background would swallow it.
    linkPalette.setColor(QPalette::WindowText,
                         ReadableTextColor(linkPalette.color(QPalette::Window),
                                           {QColor(Qt::blue), linkPalette.color(QPalette::Link)}));
    lblfolder->setPalette(linkPalette);

    dcb = new QComboBox(this);
    dcb->setObjectName("dcb");
    dcb->setGeometry(8, 31, 193 + kWider, std::max(19, dcb->sizeHint().height()));

    dlb = new TDirectoryListBox(this);
    dlb->setObjectName("dlb");
    dlb->setGeometry(10, 61, 189 + kWider, 164);

    GroupBox1 = new QGroupBox(tr("Options"), this);
    GroupBox1->setObjectName("GroupBox1");
    GroupBox1->setGeometry(205 + kWider, 26, 130, 123);
    rb1 = new QRadioButton(tr("Check all files"), GroupBox1);
    rb1->setObjectName("rb1");
    rb1->move(5, 19);
    rb1->adjustSize();
    rb1->setChecked(true);
    rb3 = new TWrapRadioButton(tr("Check files special with extensions: "), GroupBox1);
    rb3->setObjectName("rb3");
    rb3->setGeometry(5, 42, 111, 41);
    Label2 = new QLabel(tr("File Ext  =  "), GroupBox1);
    Label2->setObjectName("Label2");
    Label2->adjustSize();
    // Left of its place where the desktop's font is wider than the box leaves room for.
    Label2->move(std::max(0, std::min(25, 77 - Label2->width())), 85);
    EdExt2 = new QLineEdit(GroupBox1);
    EdExt2->setObjectName("EdExt2");
    EdExt2->setGeometry(77, 81, 44, std::max(21, EdExt2->sizeHint().height()));

    lblAge = new QLabel(tr("Keep recent files:"), this);
    lblAge->setObjectName("lblAge");
    lblAge->setGeometry(10, 234, 189 + kWider, 21);
    spAge = new QSpinBox(this);
    spAge->setObjectName("spAge");
    spAge->setGeometry(211 + kWider, 232, 117, std::max(23, spAge->sizeHint().height()));
    spAge->setRange(0, 36500);
    spAge->setSuffix(tr(" days"));
    spAge->setSpecialValueText(tr("no age"));
    spAge->setToolTip(tr("Files changed fewer days ago than this are listed unchecked"));
    lblAge->setBuddy(spAge);

    lblKeep = new QLabel(tr("Keep:"), this);
    lblKeep->setObjectName("lblKeep");
    lblKeep->adjustSize();
    lblKeep->move(10, 266);
    edKeep = new QLineEdit(this);
    edKeep->setObjectName("edKeep");
    const int keepLeft = std::max(60, lblKeep->x() + lblKeep->width() + 6);
    edKeep->setGeometry(keepLeft, 262, 328 + kWider - keepLeft,
                        std::max(23, edKeep->sizeHint().height()));
    edKeep->setPlaceholderText(tr("nothing"));
    edKeep->setToolTip(
        tr("Folders and files of this folder that are never listed or deleted, separated by "
           "\";\".\nA name matches at any depth, a trailing \"/\" matches folders only, \"**\" "
           "spans folders.\nFor example: mozilla/;*.lock;**/shader-cache/"));
    lblKeep->setBuddy(edKeep);

    lblPlaces = new QLabel(tr("Well-known places:"), this);
    lblPlaces->setObjectName("lblPlaces");
    lblPlaces->setGeometry(10, 292, 327 + kWider, 21);
    lvPlaces = new QTreeWidget(this);
    lvPlaces->setObjectName("lvPlaces");
    // Five rows, the most there are, each as tall as the desktop's font makes it.
    const int placeRows = lvPlaces->header()->sizeHint().height() +
                          5 * std::max(14, lvPlaces->fontMetrics().height() + 2) +
                          2 * lvPlaces->frameWidth() + 2;
    lvPlaces->setGeometry(10, 314, 327 + kWider, placeRows);
    setFixedSize(width(), std::max(422, 314 + placeRows + 10));
    lvPlaces->setRootIsDecorated(false);
    lvPlaces->setAllColumnsShowFocus(true);
    lvPlaces->setHeaderLabels({tr("Place"), tr("Files"), tr("Holds now")});
    lvPlaces->setToolTip(tr("Choose a place to fill in its folder, files and age"));
    lblPlaces->setBuddy(lvPlaces);
    measureTimer_ = new QTimer(this);
    measureTimer_->setInterval(20);

    BitBtn2 =
        new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton), tr("Cancel"), this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(211 + kWider, 162, 117, 25);
    BitBtn3 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), tr("OK"), this);
    BitBtn3->setObjectName("BitBtn3");
    BitBtn3->setGeometry(211 + kWider, 194, 117, 25);
    // Enter belongs to the folder list (it opens the highlighted folder), so no button is the
    // default one.
    for (QPushButton* button : {BitBtn2, BitBtn3}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    connect(BitBtn3, &QPushButton::clicked, this, GuardedSlot(this, &TfmFolder::BitBtn3Click));
    connect(BitBtn2, &QPushButton::clicked, this, GuardedSlot(this, &TfmFolder::BitBtn2Click));
    connect(dcb, &QComboBox::activated, this, GuardedSlot(this, &TfmFolder::dcbChange));
    dlb->OnChange = [this] { DirectoryChanged(); };
    connect(lvPlaces, &QTreeWidget::itemSelectionChanged, this,
            GuardedSlot(this, &TfmFolder::PlaceChosen));
    connect(measureTimer_, &QTimer::timeout, this, GuardedSlot(this, &TfmFolder::MeasurePlaces));

    FillDrives();
    DirectoryChanged();
    ShowPlaces(KnownPlaces(UserPlaceRoots()));
    // The keyboard starts in the folder list: arrows move, Enter opens.
    dlb->setFocus();
}

QString TfmFolder::Ext() const {
    return BareExtensions(EdExt2->text());
}

QString TfmFolder::Keep() const {
    return BareKeepPatterns(edKeep->text());
}

int TfmFolder::Age() const {
    return spAge->value();
}

void TfmFolder::ShowPlaces(std::vector<TKnownPlace> places) {
    measureTimer_->stop();
    measure_.reset();
    places_ = std::move(places);
    lvPlaces->clear();
    for (const TKnownPlace& place : places_) {
        const QString files =
            place.ext.isEmpty()
                ? tr("every file")
                : QStringLiteral("*.") + QString(place.ext).replace(';', QStringLiteral(";*."));
        auto* row = new QTreeWidgetItem(
            lvPlaces, {PlaceText(place.path), tr("%1, %2 days").arg(files).arg(place.ageDays),
                       tr("counting...")});
        row->setToolTip(0, place.title + QStringLiteral(": ") + place.path);
        row->setToolTip(1, row->text(1));
    }
    lvPlaces->resizeColumnToContents(0);
    lvPlaces->resizeColumnToContents(1);
    // What a place holds matters more than the whole list of its extensions.
    lvPlaces->setColumnWidth(1, std::min(lvPlaces->columnWidth(1), lvPlaces->width() * 3 / 10));
    lblPlaces->setVisible(!places_.empty());
    lvPlaces->setVisible(!places_.empty());
    if (!places_.empty()) {
        measure_ = std::make_unique<TPlaceMeasure>(places_);
        measureTimer_->start();
    }
}

void TfmFolder::MeasurePlaces() {
    if (!measure_) {
        return;
    }
    // A slice short enough that the dialog answers at once; the readers work meanwhile.
    const auto done = measure_->Step(TPlaceMeasure::Clock::now() + std::chrono::milliseconds(10));
    if (done) {
        const TCheckTempsResult& result = measure_->Result(*done);
        const TKnownPlace& place = places_[*done];
        QTreeWidgetItem* row = lvPlaces->topLevelItem(static_cast<int>(*done));
        row->setText(2, TotalsText(result.totals.listed));
        QString tip = tr("%1, of them %2 older than %3 days")
                          .arg(TotalsText(result.totals.listed), TotalsText(result.totals.checked))
                          .arg(place.ageDays);
        if (!result.unreadable.empty()) {
            const std::size_t count = result.unreadable.size();
            tip += count == 1 ? tr("; 1 folder could not be read")
                              : tr("; %1 folders could not be read").arg(count);
        }
        row->setToolTip(2, tip);
    }
    if (measure_->Done()) {
        measureTimer_->stop();
        measure_.reset();
    }
}

void TfmFolder::PlaceChosen() {
    const QList<QTreeWidgetItem*> selected = lvPlaces->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const TKnownPlace& place =
        places_.at(static_cast<std::size_t>(lvPlaces->indexOfTopLevelItem(selected.front())));
    dlb->SetDirectory(place.path);
    (place.ext.isEmpty() ? rb1 : rb3)->setChecked(true);
    EdExt2->setText(place.ext);
    spAge->setValue(place.ageDays);
    // What to keep is named relative to a folder: the place's own has nothing to keep.
    edKeep->clear();
}

void TfmFolder::BitBtn3Click() {
    // Nothing left once bare (" ", "*."), it would be every file: not what "File Ext =" says.
    if (rb3->isChecked() && Ext().isEmpty()) {
        ShowMessage({this, tr("Must setup file extension!"), QApplication::applicationName(),
                     QMessageBox::NoIcon, QMessageBox::Ok});
        return;
    }
    done(Accepted);
}

void TfmFolder::BitBtn2Click() {
    done(Rejected);
}

void TfmFolder::dcbChange() {
    const QString root = dcb->currentData().toString();
    if (root.isEmpty() || root == VolumeRoot(dlb->Directory())) {
        return;
    }
    QString target = LastFolderOfVolume().value(root);
    if (target.isEmpty() || !QFileInfo(target).isDir()) {
        target = root;
    }
    try {
        dlb->SetDirectory(target);
    } catch (...) {
        // The list stays where it was; so does the drive shown.
        DirectoryChanged();
        throw;
    }
}

void TfmFolder::keyPressEvent(QKeyEvent* event) {
    // Neither button is the cancel button: Escape leaves the dialog open.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfmFolder::FillDrives() {
    std::vector<std::pair<QString, QString>> volumes;  // root, label
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        // A file bound over another (as containers do for /etc/hosts) is no folder to browse.
        if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir()) {
            volumes.emplace_back(volume.rootPath(), volume.name());
        }
    }
    std::sort(volumes.begin(), volumes.end());
    volumes.erase(std::unique(volumes.begin(), volumes.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  volumes.end());
    dcb->clear();
    for (const auto& [root, label] : volumes) {
        dcb->addItem(label.isEmpty() ? root : root + QStringLiteral("  [") + label + ']', root);
    }
}

void TfmFolder::DirectoryChanged() {
    // The label names what "OK" takes; the drive list follows the folder opened.
    const QString chosen = dlb->Chosen();
    lblfolder->setText(MinimizeName(chosen, lblfolder->fontMetrics(), dlb->width()));
    lblfolder->adjustSize();
    lblfolder->setToolTip(chosen);

    const QString dir = dlb->Directory();
    const QString root = VolumeRoot(dir);
    LastFolderOfVolume().insert(root, dir);
    int index = dcb->findData(root);
    if (index < 0) {
        dcb->addItem(root, root);
        index = dcb->count() - 1;
    }
    dcb->setCurrentIndex(index);
}

}  // namespace purgala
