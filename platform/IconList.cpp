#include "platform/IconList.h"

namespace purgala {

TIconList& TIconList::Instance() {
    static TIconList list;
    return list;
}

int TIconList::IndexOf(const QIcon& icon) {
    // Theme icons are new QIcon objects at every request but share their name; others are only
    // recognised by their cache key.
    const QString name = icon.name();
    if (!name.isEmpty()) {
        if (const auto it = byName_.find(name); it != byName_.end()) {
            return it->second;
        }
    } else if (const auto it = byKey_.find(icon.cacheKey()); it != byKey_.end()) {
        return it->second;
    }
    const int index = Count();
    icons_.push_back(icon);
    if (!name.isEmpty()) {
        byName_.emplace(name, index);
    } else {
        byKey_.emplace(icon.cacheKey(), index);
    }
    return index;
}

QIcon TIconList::Icon(int index) const {
    if (index < 0 || index >= Count()) {
        return {};
    }
    return icons_[static_cast<std::size_t>(index)];
}

}  // namespace purgala
