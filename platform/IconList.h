#pragma once
// The process-wide list of small file icons: rows name an icon by its index here, as a number
// they can store and compare, and the view turns the index back into the icon it paints.

#include <QIcon>
#include <QString>
#include <unordered_map>
#include <vector>

namespace purgala {

class TIconList {
public:
    static TIconList& Instance();

    // The index of `icon`, adding it the first time; the same icon always gives the same index.
    int IndexOf(const QIcon& icon);
    // The icon at `index`; a null icon for -1 or any index not in the list.
    QIcon Icon(int index) const;
    int Count() const { return static_cast<int>(icons_.size()); }

private:
    TIconList() = default;
    std::vector<QIcon> icons_;
    std::unordered_map<qint64, int> byKey_;
    std::unordered_map<QString, int> byName_;
};

}  // namespace purgala
