#include "scan/ShownTexts.h"

#include <QCoreApplication>
#include <QLocale>
#include <algorithm>
#include <optional>

#include "platform/FileNames.h"
#include "scan/RowCompare.h"
#include "util/ListedFile.h"

namespace purgala {

namespace {

// The window's own words: one context, whichever side makes them.
QString Tr(const char* text) {
    return QCoreApplication::translate("purgala::TFMMain", text);
}

QLocale GroupingLocale() {
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    return locale;
}

}  // namespace

std::string FormatCellText(TFieldKind kind, const TFileNodeData* data) {
    if (data == nullptr) {
        return {};
    }
    switch (kind) {
        case TFieldKind::FileSize: {
            const std::string size = data->FileSize();
            const std::optional<double> x = NumberOfText(size);
            if (!x) {
                return {};
            }
            return SizeText(*x).toStdString();
        }
        case TFieldKind::SizePercentage: {
            std::string percentage = data->Text(kind);
            if (!percentage.empty()) {
                percentage += '%';
            }
            return percentage;
        }
        default:
            return data->Text(kind);
    }
}

QString SizeText(double bytes) {
    // "%n": two decimals with the user's separators, thousands included.
    const QLocale locale = GroupingLocale();
    const auto format = [&locale](double value, const char* unit) {
        return locale.toString(value, 'f', 2) + QLatin1String(unit);
    };
    if (bytes < 1024.0) {
        return format(bytes, " B");
    }
    if (bytes < 1048576.0) {
        return format(bytes / 1024.0, " KB");
    }
    if (bytes < 1073741824.0) {
        return format(bytes / 1048576.0, " MB");
    }
    return format(bytes / 1073741824.0, " GB");
}

QString CountText(std::size_t count) {
    return GroupingLocale().toString(static_cast<qulonglong>(count));
}

QString FilesText(std::size_t count) {
    return count == 1 ? Tr("1 file") : Tr("%1 files").arg(CountText(count));
}

QString TotalsText(const TFileCount& totals, bool withWord) {
    return QStringLiteral("%1 (%2)").arg(
        withWord ? FilesText(totals.count) : CountText(totals.count),
        SizeText(static_cast<double>(totals.bytes)));
}

QString CheckTotalsText(const TCheckTotals& totals, std::size_t folders, bool listedNothing,
                        std::size_t unreadable) {
    QString text;
    if (listedNothing) {
        text = folders == 1 ? Tr("No matching files in 1 folder")
                            : Tr("No matching files in %1 folders").arg(CountText(folders));
    } else {
        text = Tr("%1 listed, %2 checked")
                   .arg(TotalsText(totals.listed), TotalsText(totals.checked, /*withWord=*/false));
        if (totals.kept.count > 0) {
            text += Tr(", %1 left unchecked as recent, in use or another user's")
                        .arg(CountText(totals.kept.count));
        }
    }
    if (unreadable > 0) {
        text += unreadable == 1 ? Tr(", 1 folder could not be read")
                                : Tr(", %1 folders could not be read").arg(CountText(unreadable));
    }
    return text;
}

QString UnreadableText(const std::vector<TUnreadableFolder>& folders, std::size_t named) {
    QString text;
    for (std::size_t i = 0; i < std::min(folders.size(), named); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += DecodeFileName(folders[i].path) + QStringLiteral(": ") +
                QString::fromStdString(SystemMessage(folders[i].error));
    }
    if (folders.size() > named) {
        text += '\n' + Tr("and %1 more").arg(CountText(folders.size() - named));
    }
    return text;
}

QString CheckLeadText(const TCheckTempsResult& result, const std::vector<TFolderSpec>& setups,
                      bool stopped) {
    QString lead;
    if (!result.badAges.empty()) {
        const TFolderSpec& setup = setups[result.badAges.front()];
        lead = Tr("The age \"%1\" of %2 is not a whole number of days: none of its files was "
                  "checked")
                   .arg(QString::fromStdString(setup.ageText), DecodeFileName(setup.path));
        if (result.badAges.size() > 1) {
            lead += Tr(" (and %1 more folders)").arg(result.badAges.size() - 1);
        }
    }
    if (stopped) {
        const QString where = Tr("Stopped while scanning %1").arg(DecodeFileName(result.stoppedIn));
        lead = lead.isEmpty() ? where : where + QStringLiteral("; ") + lead;
    }
    return lead;
}

QString ScanningText(const std::string& folder, std::size_t listed) {
    return Tr("Scanning %1: %2 found so far").arg(DecodeFileName(folder), FilesText(listed));
}

QString RemovedText(const TFileCount& removed, bool toTrash) {
    const QString size = SizeText(static_cast<double>(removed.bytes));
    // The space is freed only when the trash is emptied.
    return toTrash ? Tr("%1 moved to the trash (%2), no space freed yet")
                         .arg(FilesText(removed.count), size)
                   : Tr("%1 deleted, %2 freed").arg(FilesText(removed.count), size);
}

QString StoppedRemovingText(const std::string& folder, bool toTrash, const QString& lead) {
    return (toTrash ? Tr("Stopped while moving to the trash from %1; %2")
                    : Tr("Stopped while deleting in %1; %2"))
        .arg(DecodeFileName(folder), lead);
}

}  // namespace purgala
