#pragma once
// Moving the file of a result row to the desktop's trash (the freedesktop.org one, which the file
// manager, gio and trash-cli show and restore), with every promise of a deletion kept.
//
// The file is found again exactly as for a deletion (ListedFile.h: the configured folder still
// the scanned one, no link followed, no mount crossed, the entry still the listed file) and
// renamed from that folder's descriptor into the trash of its own file system: the home trash
// ($XDG_DATA_HOME/Trash) when it lies on that file system, otherwise the one at the top of the
// file system's mount ($topdir/.Trash/$uid when .Trash is a real folder with the sticky bit,
// else $topdir/.Trash-$uid). The trash folders are opened without following links below their
// top. A file is never copied and never deleted: with no usable trash on its file system it
// stays where it is and is reported.
//
// The info file is written first, created exclusively, then the file is renamed with
// RENAME_NOREPLACE; a taken name gets a number, and an info file whose move failed is removed.
// Unlike a deletion, a move can be checked afterwards: the entry now in the trash is compared
// with the one checked before the move, and if another file took the listed name in between it
// is put back (RENAME_NOREPLACE again), or, when its old name was taken once more, left in the
// trash with its info file and reported.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/ListedFile.h"

namespace purgala {

// Why a file with no usable trash stays where it is.
inline constexpr std::string_view kNoTrash = "no trash on its file system";

// Where the user's trashes are: the data folder holding the home trash, and the numeric user id
// that names the trashes at the top of other file systems.
struct TTrashOwner {
    std::string dataHome;  // $XDG_DATA_HOME, else $HOME/.local/share
    unsigned uid = 0;
    static TTrashOwner FromEnvironment();
};

// The moments a test may act in, to play what no check can prevent.
enum class TTrashStep : std::uint8_t {
    BeforeMove,      // the listed file was checked; the info file is written
    BeforeMoveBack,  // the entry moved was found to be another file
};

// Moves listed files to the trash one after the other, reusing the open folders and trashes.
class TTrashMover {
public:
    explicit TTrashMover(TTrashOwner owner = TTrashOwner::FromEnvironment(),
                         bool useOpenat2 = true);
    ~TTrashMover();
    TTrashMover(const TTrashMover&) = delete;
    TTrashMover& operator=(const TTrashMover&) = delete;

    // Trashed, Vanished, or Failed with the reason; never an exception for one file.
    TDeleteOutcome MoveToTrash(const TListedFile& file);

    // Called at each step, for tests only.
    std::function<void(TTrashStep)> stepHook;

private:
    struct TTrash;
    // The home trash when it lies on `device`, usable or not; null when it lies elsewhere.
    TTrash* HomeTrashFor(std::uint64_t device);
    // The trash at the top of the mount of `device` that holds `folderPath`; null without one.
    TTrash* TopDirTrashFor(std::uint64_t device, const std::string& folderPath);
    // `otherMount` is set when the trash is on the file's file system but not on its mount.
    TDeleteOutcome MoveInto(TTrash& trash, const TFoundFile& found, const std::string& folderPath,
                            bool& otherMount);
    const std::vector<std::pair<std::uint64_t, std::string>>& Mounts();

    TTrashOwner owner_;
    TListedFileFinder finder_;
    std::optional<std::uint64_t> homeDevice_;
    std::unique_ptr<TTrash> home_;
    std::map<std::string, std::unique_ptr<TTrash>> topDirs_;  // by the top folder's path
    std::optional<std::vector<std::pair<std::uint64_t, std::string>>> mounts_;
};

// The bytes of a path as a trash info file keeps them: unreserved characters and "/" as they
// are, every other byte as %XX.
std::string TrashInfoPath(std::string_view path);

}  // namespace purgala
