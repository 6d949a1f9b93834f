#include "scan/KeepRules.h"

#include <pwd.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <algorithm>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "platform/FileNames.h"
#include "platform/ResultTree.h"

namespace purgala {

namespace {

QString Tr(const char* text) {
    return QCoreApplication::translate("TKeepRules", text);
}

// The latest of the times that tell when the file's content came to be as it is.
std::int64_t LatestChange(const TFileEntryInfo& info) {
    const TFileTime born = info.createTime.Known() ? info.createTime : info.changeTime;
    return std::max(NanosOf(info.writeTime), NanosOf(born));
}

// The login name of `user`, or its number where there is none.
QString UserName(std::uint32_t user) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return QString::fromLocal8Bit(found->pw_name);
    }
    return Tr("user %1").arg(user);
}

}  // namespace

TKeepReason AgeReasonOf(const TFolderSpec& setup, std::int64_t startNanos,
                        const TFileEntryInfo& info) {
    if (setup.badAge) {
        return TKeepReason::BadAge;
    }
    if (setup.ageDays <= 0) {
        return TKeepReason::None;
    }
    const std::int64_t latest = LatestChange(info);
    // An age beyond what 64 bits of nanoseconds hold keeps every file.
    const std::int64_t maxDays = std::numeric_limits<std::int64_t>::max() / kNanosPerDay / 2;
    if (setup.ageDays >= maxDays) {
        return TKeepReason::Recent;
    }
    const std::int64_t since = startNanos - static_cast<std::int64_t>(setup.ageDays) * kNanosPerDay;
    return latest > since ? TKeepReason::Recent : TKeepReason::None;
}

bool MayNotRemove(bool stickyFolder, std::uint32_t folderOwner, std::uint32_t fileOwner,
                  std::uint32_t user) {
    return stickyFolder && user != 0 && fileOwner != user && folderOwner != user;
}

TKeptFile KeptFileOf(const TFileNodeData& data, std::string_view path) {
    return {NanosOf(data.Time(TFieldKind::WriteTime)), data.Time(TFieldKind::CreateTime),
            data.Stamp().identity, path};
}

QString TKeepRules::Why(TKeepReason reason, const TFolderSpec& setup, const TKeptFile& file) const {
    switch (reason) {
        case TKeepReason::InUse: {
            const TFileHolder* holder = openFiles_ ? openFiles_->HolderOf(file.identity) : nullptr;
            if (holder == nullptr) {
                return Tr("Open in a running program");
            }
            return Tr("Open in %1 (process %2)")
                .arg(holder->command.empty() ? Tr("a program")
                                             : QString::fromUtf8(holder->command.c_str()))
                .arg(holder->pid);
        }
        case TKeepReason::Recent: {
            const int days = setup.ageDays;
            const QString keeps =
                days == 1 ? Tr("this folder keeps files changed in the last day")
                          : Tr("this folder keeps files changed in the last %1 days").arg(days);
            const std::int64_t latest = file.birth.Known()
                                            ? std::max(file.writeNanos, NanosOf(file.birth))
                                            : file.writeNanos;
            QString changed;
            if (latest > startNanos_) {
                changed =
                    Tr("Changed %1 after the scan started").arg(SpanText(latest - startNanos_));
            } else if (!file.birth.Known() && startNanos_ - latest >= days * kNanosPerDay) {
                // Only the status change, which the row does not show, was recent.
                changed = Tr("Changed recently");
            } else {
                changed = Tr("Changed %1 ago").arg(SpanText(startNanos_ - latest));
            }
            return changed + QStringLiteral("; ") + keeps;
        }
        case TKeepReason::BadAge:
            return Tr("This folder's age \"%1\" is not a whole number of days")
                .arg(QString::fromStdString(setup.ageText));
        case TKeepReason::NotYours: {
            // The owner as it is now; the row keeps no owner of its own.
            struct stat st {};
            const std::string path(file.path);
            const QString owner = ::lstat(path.c_str(), &st) == 0
                                      ? UserName(static_cast<std::uint32_t>(st.st_uid))
                                      : Tr("another user");
            return Tr("Belongs to %1; this folder lets only its owner remove it").arg(owner);
        }
        case TKeepReason::None:
            break;
    }
    return {};
}

void TRowRules::Start(std::int64_t startNanos) {
    rules_ = TKeepRules(startNanos);
    folders_.clear();
}

void TRowRules::SetOpenFiles(std::shared_ptr<const TOpenFiles> files) {
    rules_.SetOpenFiles(std::move(files));
}

void TRowRules::SetFolder(PVirtualNode folderRow, const TFolderSpec& setup) {
    folders_.insert_or_assign(folderRow, setup);
}

QString TRowRules::Why(const TResultTree& tree, PVirtualNode row) const {
    const TFileNodeData& data = tree.GetNodeData(row);
    if (data.KeptBy() == TKeepReason::None) {
        return {};
    }
    const auto folder = folders_.find(tree.NodeParent(row));
    if (folder == folders_.end()) {
        return {};
    }
    const std::string path = data.FullPath();
    return rules_.Why(data.KeptBy(), folder->second, KeptFileOf(data, path));
}

QString SpanText(std::int64_t nanos) {
    constexpr std::int64_t kSecond = 1'000'000'000;
    const std::int64_t seconds = std::max<std::int64_t>(nanos / kSecond, 0);
    const auto unit = [](std::int64_t n, const char* one, const char* many) {
        return n == 1 ? Tr(one) : Tr(many).arg(n);
    };
    if (seconds < 60) {
        return unit(seconds, "1 second", "%1 seconds");
    }
    if (seconds < 3600) {
        return unit(seconds / 60, "1 minute", "%1 minutes");
    }
    if (seconds < 86400) {
        return unit(seconds / 3600, "1 hour", "%1 hours");
    }
    return unit(seconds / 86400, "1 day", "%1 days");
}

}  // namespace purgala
