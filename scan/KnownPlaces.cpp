#include "scan/KnownPlaces.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <string>
#include <utility>

namespace purgala {

TPlaceRoots UserPlaceRoots() {
    // Qt reads XDG_CACHE_HOME and user-dirs.dirs as xdg-user-dir does.
    return {QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation),
            QStringLiteral("/tmp"), QStringLiteral("/var/tmp"),
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation), QDir::homePath()};
}

std::vector<TKnownPlace> KnownPlaces(const TPlaceRoots& roots) {
    // The ages of /tmp and /var/tmp are those systemd-tmpfiles ships in its tmp.conf ("q /tmp
    // 1777 root root 10d", "q /var/tmp 1777 root root 30d"). A cache gets the longer one: what is
    // used within a month is worth keeping. A partial download older than a week will not be
    // resumed.
    const std::vector<TKnownPlace> candidates = {
        {roots.cache, {}, 30, QObject::tr("Your cache")},
        {roots.tmp, {}, 10, QObject::tr("Temporary files")},
        {roots.varTmp, {}, 30, QObject::tr("Temporary files kept over restarts")},
        {roots.downloads, QStringLiteral("part;crdownload"), 7, QObject::tr("Partial downloads")},
    };
    std::vector<TKnownPlace> places;
    for (const TKnownPlace& place : candidates) {
        const bool isHome = !roots.home.isEmpty() && QDir(place.path) == QDir(roots.home);
        if (!place.path.isEmpty() && !isHome && QFileInfo(place.path).isDir()) {
            places.push_back(place);
            places.back().path = QDir::cleanPath(place.path);
        }
    }
    return places;
}

// What a place holds is all that is wanted: the totals, no row.
class TPlaceMeasure::TNoRows : public IScanConsumer {
public:
    void FolderBegun(const TFolderSpec&) override {}
    void FileListed(const TListedEntry&) override {}
};

TPlaceMeasure::TPlaceMeasure(std::vector<TKnownPlace> places)
    : places_(std::move(places)),
      results_(places_.size()),
      consumer_(std::make_unique<TNoRows>()) {}

TPlaceMeasure::~TPlaceMeasure() = default;

std::optional<std::size_t> TPlaceMeasure::Step(Clock::time_point deadline) {
    if (Done()) {
        return std::nullopt;
    }
    if (!work_) {
        const TKnownPlace& place = places_[next_];
        std::vector<TFolderSpec> setups;
        setups.emplace_back(QFile::encodeName(place.path).toStdString(), place.ext.toStdString(),
                            std::to_string(place.ageDays));
        TCheckTempsOptions options;
        // Which files programs hold open changes what is checked by a few, not what the place
        // holds; reading every process for it would only slow the count down.
        options.procRoot = "/nonexistent";
        work_ = std::make_unique<TCheckTemps>(std::move(setups), *consumer_, std::move(options));
    }
    if (!work_->Step(deadline)) {
        return std::nullopt;
    }
    results_[next_] = work_->Result();
    work_.reset();
    return next_++;
}

}  // namespace purgala
