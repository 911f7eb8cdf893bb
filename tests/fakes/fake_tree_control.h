// An in-memory tree control for native tests: items in insertion order under their parents, with
// text, image and item data, and a count of live items so that tests see what was left behind.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "connector/devtree/tree_control.h"

namespace kx7::test {

class FakeTreeControl final : public TreeControl {
  public:
    struct Item {
        TreeItem parent = 0;
        std::wstring text;
        int image = 0;
        uintptr_t data = 0;
        bool expanded = false;
        std::vector<TreeItem> children;
    };

    TreeItem InsertItem(TreeItem parent, const std::wstring& text, int image,
                        uintptr_t data) override {
        if (refuseInserts || (parent != 0 && items.count(parent) == 0)) {
            return 0;
        }
        const TreeItem item = nextItem_++;
        items[item] = Item{parent, text, image, data, false, {}};
        ChildrenOf(parent).push_back(item);
        return item;
    }
    bool DeleteItem(TreeItem item) override {
        auto it = items.find(item);
        if (it == items.end()) {
            return false;
        }
        // As the control does, the children go with their parent (their data is not freed).
        for (TreeItem child : std::vector<TreeItem>(it->second.children)) {
            DeleteItem(child);
        }
        auto& siblings = ChildrenOf(items[item].parent);
        siblings.erase(std::find(siblings.begin(), siblings.end(), item));
        items.erase(item);
        return true;
    }
    uintptr_t GetItemData(TreeItem item) override {
        auto it = items.find(item);
        return it == items.end() ? 0 : it->second.data;
    }
    TreeItem GetChildItem(TreeItem item) override {
        const auto& children = ChildrenOf(item);
        return children.empty() ? 0 : children.front();
    }
    TreeItem GetNextSiblingItem(TreeItem item) override {
        auto it = items.find(item);
        if (it == items.end()) {
            return 0;
        }
        const auto& siblings = ChildrenOf(it->second.parent);
        auto pos = std::find(siblings.begin(), siblings.end(), item);
        return (pos == siblings.end() || pos + 1 == siblings.end()) ? 0 : *(pos + 1);
    }
    bool ItemHasChildren(TreeItem item) override { return !ChildrenOf(item).empty(); }
    void Expand(TreeItem item) override {
        if (items.count(item) != 0) {
            items[item].expanded = true;
        }
    }

    // The texts of an item's children, in order.
    std::vector<std::wstring> ChildTexts(TreeItem item) {
        std::vector<std::wstring> texts;
        for (TreeItem child : ChildrenOf(item)) {
            texts.push_back(items[child].text);
        }
        return texts;
    }
    std::vector<TreeItem>& ChildrenOf(TreeItem item) {
        return item == 0 ? topLevel_ : items[item].children;
    }

    std::map<TreeItem, Item> items;
    bool refuseInserts = false;

  private:
    std::vector<TreeItem> topLevel_;
    TreeItem nextItem_ = 0x100;
};

}  // namespace kx7::test
