#include "scan/FACtrl.h"

#include <QFile>

#include "config/Config.h"

namespace purgala {

TFACtrl::TFACtrl(QWidget& owner, TVirtualStringTree& tree) : owner_(owner), tree_(tree) {
    tree_.OnGetText = [](TVirtualStringTree& sender, PVirtualNode node, int column, TVSTTextType,
                         std::string& text) {
        const auto nodes = GetConfig().GetRoot()->GetNodes();
        const TFieldKind kind = FieldKindOfName(nodes->GetNode(column)->GetName().toStdString());
        text = sender.GetNodeData(node).Text(kind);
    };
}

TFACtrl::~TFACtrl() {
    tree_.OnGetText = nullptr;
    tree_.OnGetHint = nullptr;
    tree_.OnGetImageIndex = nullptr;
    tree_.OnCompareNodes = nullptr;
    tree_.OnPrepareSort = nullptr;
    tree_.OnHeaderClick = nullptr;
    tree_.OnHeaderMouseDown = nullptr;
    tree_.OnChange = nullptr;
}

void TFACtrl::BuildColumns(TVirtualStringTree& tree, const std::shared_ptr<IXMLNodesType>& nodes) {
    auto& columns = tree.Header().Columns();
    columns.Clear();
    for (int i = 0; i < nodes->GetCount(); ++i) {
        const auto node = nodes->GetNode(i);
        TVirtualTreeColumn column = columns.Add();
        column.SetText(node->GetName());
        column.SetWidth(node->GetWidth());
    }
}

}  // namespace purgala
