#include "treeview.h"

#include <cstdio>
#include <cstring>

#include "diag.h"
#include "raid.h"
#include "requests.h"

namespace ov {

namespace {

// Labels end at their first NUL, as the window's strings do.
std::string up_to_nul(const std::string& text)
{
    return std::string(text.c_str(), std::strlen(text.c_str()));
}

}  // namespace

void treeview::cleartree()
{
    std::lock_guard<std::mutex> lock(mutex_);
    data_.clear();
}

namespace {

std::shared_ptr<tree_node> deep_copy(const tree_node& node)
{
    auto copy = std::make_shared<tree_node>(node);
    copy->children.clear();
    for (const auto& child : node.children)
        copy->children.push_back(deep_copy(*child));
    return copy;
}

}  // namespace

treeview::node_list treeview::getdata() const
{
    // A copy: the builder goes on appending to its own nodes while the window reads this.
    std::lock_guard<std::mutex> lock(mutex_);
    node_list copy;
    for (const auto& node : data_)
        copy.push_back(deep_copy(*node));
    return copy;
}

void treeview::addchipFirewire(bool firewire)
{
    controller_t identity;
    identity.is_firewire = firewire;
    addchip(identity, chip_state::not_configured);
}

void treeview::addchip(const controller_t& identity, chip_state state)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto node = std::make_shared<tree_node>();
        node->branch = true;
        node->label = localized("device") + " " + up_to_nul(inttostring(data_.size() + 1)) +
                      (identity.is_firewire ? " (1394)" : " (USB)");
        node->controller = identity;
        node->state = state;
        data_.push_back(node);
    }
    diag(diag_level::console, "added");
    std::fflush(stdout);
}

void treeview::addraid(int chip, const std::string& label)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (chip < 0 || chip >= static_cast<int>(data_.size()))
        return;
    auto node = std::make_shared<tree_node>();
    node->branch = true;
    node->kind = node_kind::raid;
    node->label = up_to_nul(label);
    node->controller = data_[chip]->controller;
    data_[chip]->children.push_back(node);
}

void treeview::adddisk(int chip, const std::string& label, bool raid, const disk_facts& facts)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (chip < 0 || chip >= static_cast<int>(data_.size()))
        return;
    tree_node* parent = data_[chip].get();
    if (raid) {
        if (parent->children.empty())
            return;
        parent = parent->children.front().get();
    }
    auto leaf = std::make_shared<tree_node>();
    leaf->kind = node_kind::disk;
    leaf->label = up_to_nul(label);
    leaf->controller = data_[chip]->controller;
    leaf->disk = facts;
    parent->children.push_back(leaf);
}

int treeview::number_of_children(const node_list& root, const tree_node* item)
{
    if (!item)
        return static_cast<int>(root.size());
    return item->branch ? static_cast<int>(item->children.size()) : 0;
}

const tree_node* treeview::child(const node_list& root, int index, const tree_node* item)
{
    const node_list& list = item ? item->children : root;
    if (index < 0 || index >= static_cast<int>(list.size()))
        return nullptr;
    return list[static_cast<size_t>(index)].get();
}

bool treeview::is_expandable(const node_list& root, const tree_node* item)
{
    return number_of_children(root, item) > 0;
}

std::string treeview::object_value(const tree_node* item)
{
    return item ? item->label : std::string("Root");
}

}  // namespace ov
