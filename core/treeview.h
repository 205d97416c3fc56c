// The device tree outline: chip nodes in controller-map order, the RAID node of a
// configured set, and the present disks. Plain data; the window wraps it in a model.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ov {

struct tree_node {
    std::string label;
    bool branch = false;   // a leaf is a bare label
    std::vector<std::shared_ptr<tree_node>> children;
};

class treeview {
public:
    using node_list = std::vector<std::shared_ptr<tree_node>>;

    void cleartree();
    node_list getdata() const;
    void addchipFirewire(bool firewire);
    void addraid(int chip, const std::string& label);
    void adddisk(int chip, const std::string& label, bool raid);

    // The outline questions, answered on a snapshot taken with getdata() (the window
    // keeps its snapshot alive while it shows it); a null item is the invisible root.
    static int number_of_children(const node_list& root, const tree_node* item);
    static const tree_node* child(const node_list& root, int index, const tree_node* item);
    static bool is_expandable(const node_list& root, const tree_node* item);
    static std::string object_value(const tree_node* item);

private:
    mutable std::mutex mutex_;   // the window reads while the notification thread rebuilds
    node_list data_;
};

}  // namespace ov
