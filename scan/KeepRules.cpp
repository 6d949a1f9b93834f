#include "scan/KeepRules.h"

#include <QCoreApplication>
#include <algorithm>
#include <limits>
#include <utility>

#include "config/AttributeValues.h"

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

}  // namespace

TFolderKeep TFolderKeep::Of(const QString& ageText, std::int64_t startNanos) {
    TFolderKeep rule;
    rule.ageText = ageText;
    rule.startNanos = startNanos;
    if (ageText.isEmpty()) {
        return rule;
    }
    if (const std::optional<std::int32_t> days = AgeDaysOf(ageText)) {
        rule.ageDays = *days;
    } else {
        rule.badAge = true;
    }
    return rule;
}

TKeepReason KeepReasonOf(const TFolderKeep& rule, const TFileEntryInfo& info) {
    if (rule.badAge) {
        return TKeepReason::BadAge;
    }
    if (rule.ageDays <= 0) {
        return TKeepReason::None;
    }
    const std::int64_t latest = LatestChange(info);
    // An age beyond what 64 bits of nanoseconds hold keeps every file.
    const std::int64_t maxDays = std::numeric_limits<std::int64_t>::max() / kNanosPerDay / 2;
    if (rule.ageDays >= maxDays) {
        return TKeepReason::Recent;
    }
    const std::int64_t since =
        rule.startNanos - static_cast<std::int64_t>(rule.ageDays) * kNanosPerDay;
    return latest > since ? TKeepReason::Recent : TKeepReason::None;
}

void TKeepRules::Start(std::int64_t startNanos) {
    startNanos_ = startNanos;
    folders_.clear();
    openFiles_ = {};
}

void TKeepRules::SetFolder(PVirtualNode folderRow, TFolderKeep rule) {
    folders_[folderRow] = std::move(rule);
}

TKeptCount TKeepRules::KeepOpenFiles(TVirtualStringTree& tree, TOpenFiles files) {
    openFiles_ = std::move(files);
    TKeptCount kept;
    if (openFiles_.Empty()) {
        return kept;
    }
    TUpdateBracket bracket(tree);
    for (PVirtualNode folder = tree.GetFirstChild(nullptr); folder != nullptr;
         folder = tree.GetNextSibling(folder)) {
        for (PVirtualNode row = tree.GetFirstChild(folder); row != nullptr;
             row = tree.GetNextSibling(row)) {
            TFileNodeData& data = tree.GetNodeData(row);
            if (!data.IsScannedFile() || !openFiles_.Contains(data.Stamp().identity)) {
                continue;
            }
            if (tree.CheckState(row) == TCheckState::Checked) {
                tree.SetCheckState(row, TCheckState::Unchecked);
                ++kept.files;
                kept.bytes += static_cast<std::uint64_t>(std::max<std::int64_t>(data.Size(), 0));
            }
            data.SetKeptBy(TKeepReason::InUse);
        }
    }
    return kept;
}

QString TKeepRules::Why(TVirtualStringTree& tree, PVirtualNode row) const {
    const TFileNodeData& data = tree.GetNodeData(row);
    switch (data.KeptBy()) {
        case TKeepReason::InUse: {
            const TFileHolder* holder = openFiles_.HolderOf(data.Stamp().identity);
            if (holder == nullptr) {
                return Tr("Open in a running program");
            }
            return Tr("Open in %1 (process %2)")
                .arg(holder->command.empty() ? Tr("a program")
                                             : QString::fromUtf8(holder->command.c_str()))
                .arg(holder->pid);
        }
        case TKeepReason::Recent: {
            const auto folder = folders_.find(tree.NodeParent(row));
            const int days = folder != folders_.end() ? folder->second.ageDays : 0;
            const QString keeps =
                days == 1 ? Tr("this folder keeps files changed in the last day")
                          : Tr("this folder keeps files changed in the last %1 days").arg(days);
            const std::int64_t write = NanosOf(data.Time(TFieldKind::WriteTime));
            const TFileTime birth = data.Time(TFieldKind::CreateTime);
            const std::int64_t latest = birth.Known() ? std::max(write, NanosOf(birth)) : write;
            QString changed;
            if (latest > startNanos_) {
                changed =
                    Tr("Changed %1 after the scan started").arg(SpanText(latest - startNanos_));
            } else if (!birth.Known() && startNanos_ - latest >= days * kNanosPerDay) {
                // Only the status change, which the row does not show, was recent.
                changed = Tr("Changed recently");
            } else {
                changed = Tr("Changed %1 ago").arg(SpanText(startNanos_ - latest));
            }
            return changed + QStringLiteral("; ") + keeps;
        }
        case TKeepReason::BadAge: {
            const auto folder = folders_.find(tree.NodeParent(row));
            return Tr("This folder's age \"%1\" is not a whole number of days")
                .arg(folder != folders_.end() ? folder->second.ageText : QString());
        }
        case TKeepReason::None:
            break;
    }
    return {};
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
