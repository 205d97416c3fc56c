#include "treemodel.h"

#include <QItemSelectionModel>
#include <QTreeView>
#include <string>
#include <vector>

#include "functions.h"
#include "panel.h"
#include "requests.h"
#include "state_icons.h"

namespace {

// A string-table text with its arguments, filled as every text of the engine is.
QString filled(const char* id, const std::vector<std::string>& args)
{
    return ov::stringtonsstring(ov::render({ov::text_piece{id, args, false}}));
}

}  // namespace

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
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<const ov::tree_node*>(index.internalPointer());
}

QModelIndex treemodel::chip_index(const ov::controller_t& identity) const
{
    for (size_t row = 0; row < snapshot_.size(); ++row)
        if (snapshot_[row]->controller == identity)
            return createIndex(static_cast<int>(row), 0, snapshot_[row].get());
    return QModelIndex();
}

void treemodel::follow(QTreeView& view, const ov::controller_t& identity)
{
    chosen_ = identity;
    QItemSelectionModel* selection = view.selectionModel();
    if (!selection || view.model() != this)
        return;
    const QModelIndex current = selection->currentIndex();
    const ov::tree_node* current_node = node(current);
    const QModelIndex chip = chip_index(identity);
    following_ = true;
    if (current_node && chip.isValid() && current_node->controller == identity) {
        // A node under the enclosure was chosen: it stays, and is the one selected.
        if (!selection->isSelected(current))
            selection->select(current, QItemSelectionModel::ClearAndSelect);
    } else if (chip.isValid()) {
        selection->setCurrentIndex(chip, QItemSelectionModel::ClearAndSelect);
    } else {
        selection->clear();
    }
    following_ = false;
}

QString treemodel::description(const ov::tree_node& item) const
{
    switch (item.kind) {
    case ov::node_kind::chip:
        return filled("tree_enclosure_state",
                      {ov::render(ov::enclosure_name(item.controller)), ov::localized(ov::state_key(item.state))});
    case ov::node_kind::disk: {
        const ov::disk_facts& d = item.disk;
        const std::string bay = ov::render(ov::bay_disk(d.bay - 1, d.model, d.serial));
        return filled("tree_disk", {bay, ov::capacity_text(d.sectors, decimal_)}) + QLatin1Char('\n') +
               ov::stringtonsstring(ov::render(ov::size_detail(d.sectors)));
    }
    case ov::node_kind::raid:
        break;
    }
    return ov::stringtonsstring(item.label);
}

QIcon treemodel::icon(ov::chip_state state) const
{
    auto it = icons_.find(state);
    if (it == icons_.end())
        it = icons_.emplace(state, ov::state_icon(state)).first;
    return it->second;
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
    const ov::tree_node* item = node(index);
    if (!item)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return ov::stringtonsstring(ov::treeview::object_value(item));
    case Qt::DecorationRole:
        if (item->kind == ov::node_kind::chip)
            return icon(item->state);
        return QVariant();
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
    case Qt::AccessibleDescriptionRole:
        // What the label does not say: which enclosure and how it is, which bay and disk.
        return description(*item);
    default:
        return QVariant();
    }
}
