#include "treemodel.h"

#include "functions.h"

treemodel::treemodel(const ov::treeview* source, QObject* parent) : QAbstractItemModel(parent), source_(source)
{
    reload();
}

void treemodel::reload()
{
    beginResetModel();
    snapshot_ = source_ ? source_->getdata() : ov::treeview::node_list{};
    places_.clear();
    index_nodes(nullptr, snapshot_);
    endResetModel();
}

void treemodel::index_nodes(const ov::tree_node* parent, const ov::treeview::node_list& list)
{
    for (size_t row = 0; row < list.size(); ++row) {
        places_[list[row].get()] = {parent, static_cast<int>(row)};
        index_nodes(list[row].get(), list[row]->children);
    }
}

const ov::tree_node* treemodel::node(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<const ov::tree_node*>(index.internalPointer()) : nullptr;
}

QModelIndex treemodel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return QModelIndex();
    const ov::tree_node* item = ov::treeview::child(snapshot_, row, node(parent));
    return item ? createIndex(row, 0, const_cast<ov::tree_node*>(item)) : QModelIndex();
}

QModelIndex treemodel::parent(const QModelIndex& child) const
{
    const ov::tree_node* item = node(child);
    if (!item)
        return QModelIndex();
    const auto it = places_.find(item);
    if (it == places_.end() || !it->second.parent)
        return QModelIndex();
    const ov::tree_node* up = it->second.parent;
    const auto up_place = places_.find(up);
    if (up_place == places_.end())
        return QModelIndex();
    return createIndex(up_place->second.row, 0, const_cast<ov::tree_node*>(up));
}

int treemodel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return ov::treeview::number_of_children(snapshot_, node(parent));
}

int treemodel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool treemodel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

QVariant treemodel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole || role == Qt::ToolTipRole)
        return ov::stringtonsstring(ov::treeview::object_value(node(index)));
    return QVariant();
}
