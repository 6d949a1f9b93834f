#pragma once
// The controller that makes the result tree show its rows in the columns of the configuration
// document: column set-up, cell texts, hints, icons and sorting.

#include <QWidget>
#include <memory>

#include "config/PurgalaConfig.h"
#include "platform/VirtualTree.h"
#include "scan/FieldKind.h"

namespace purgala {

class TFACtrl {
public:
    // Connects the tree's text, hint, icon, compare, header and change events to this controller.
    TFACtrl(QWidget& owner, TVirtualStringTree& tree);
    // Detaches the handlers it installed, so that nothing calls into a released controller.
    ~TFACtrl();
    TFACtrl(const TFACtrl&) = delete;
    TFACtrl& operator=(const TFACtrl&) = delete;

    // Replaces the tree's columns by one column per element of `nodes`.
    void BuildColumns(TVirtualStringTree& tree, const std::shared_ptr<IXMLNodesType>& nodes);

    TFieldKind SortKind = TFieldKind::FileName;

private:
    QWidget& owner_;
    TVirtualStringTree& tree_;
};

// The controller of the main window, from its first show to its close.
inline std::unique_ptr<TFACtrl> FACtrl;

}  // namespace purgala
