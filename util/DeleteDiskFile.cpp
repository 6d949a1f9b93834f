#include "util/DeleteDiskFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace purgala {

TDeleteOutcome TDiskFileDeleter::DeleteDiskFile(const TListedFile& file) {
    TFoundFile found;
    TDeleteOutcome outcome;
    if (!finder_.Find(file, found, outcome)) {
        return outcome;
    }
    // Without AT_REMOVEDIR this never removes a folder, even one swapped in since the check.
    if (::unlinkat(found.folder, found.name.c_str(), 0) != 0) {
        const int unlinkError = errno;
        return unlinkError == ENOENT
                   ? TDeleteOutcome{TDeleteResult::Vanished, {}}
                   : TDeleteOutcome{TDeleteResult::Failed, SystemMessage(unlinkError)};
    }
    return {TDeleteResult::Deleted, {}};
}

TDeleteOutcome DeleteDiskFile(const TListedFile& file) {
    return TDiskFileDeleter().DeleteDiskFile(file);
}

}  // namespace purgala
