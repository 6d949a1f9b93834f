#pragma once
// Where temporary files pile up for a user of this desktop, each with the extensions and the age
// that leave alone what is still in use, and what each holds now, counted without a window.

#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <vector>

#include "scan/CheckTemps.h"

namespace purgala {

struct TKnownPlace {
    QString path;  // an existing folder
    QString ext;   // as the document stores it; empty: every file
    int ageDays = 0;
    QString title;  // what it is, in a few words
};

// The folders the places would be in. UserPlaceRoots() asks the desktop (the XDG folders);
// tests name their own.
struct TPlaceRoots {
    QString cache;      // $XDG_CACHE_HOME, ~/.cache by default
    QString tmp;        // /tmp
    QString varTmp;     // /var/tmp
    QString downloads;  // the user's download folder (xdg-user-dir DOWNLOAD)
    QString home;       // a download folder that is the home itself is no place to clean
};
TPlaceRoots UserPlaceRoots();

// The places whose folders exist, in a fixed order.
std::vector<TKnownPlace> KnownPlaces(const TPlaceRoots& roots);

// Counts, one place after another, what each holds now and what its rules would leave checked.
// Driven in slices from the caller's thread while its readers work on their own.
class TPlaceMeasure {
public:
    using Clock = std::chrono::steady_clock;

    explicit TPlaceMeasure(std::vector<TKnownPlace> places);
    ~TPlaceMeasure();
    TPlaceMeasure(const TPlaceMeasure&) = delete;
    TPlaceMeasure& operator=(const TPlaceMeasure&) = delete;

    // Works until `deadline`; the index of a place it finished meanwhile, if any (one at most).
    // Done() once every place is.
    std::optional<std::size_t> Step(Clock::time_point deadline);
    bool Done() const { return next_ >= places_.size(); }
    // Complete for a place once Step handed back its index.
    const TCheckTempsResult& Result(std::size_t place) const { return results_.at(place); }

private:
    class TNoRows;

    std::vector<TKnownPlace> places_;
    std::vector<TCheckTempsResult> results_;
    std::unique_ptr<TNoRows> consumer_;
    std::unique_ptr<TCheckTemps> work_;
    std::size_t next_ = 0;
};

}  // namespace purgala
