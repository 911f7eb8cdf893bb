// The tree control of the main window, reduced to the operations the device tree needs. Items
// are opaque handles (0 is none); each carries one pointer-sized value of item data. The Win32
// backend sends the control its messages; tests keep the tree in memory.
#pragma once

#include <cstdint>
#include <string>

namespace kx7 {

using TreeItem = uintptr_t;

class TreeControl {
  public:
    virtual ~TreeControl() = default;
    // Inserts a child of parent (0: the top level) after its last child, with the same image
    // for the normal and the selected state. Returns 0 when the control refuses.
    virtual TreeItem InsertItem(TreeItem parent, const std::wstring& text, int image,
                                uintptr_t data) = 0;
    virtual bool DeleteItem(TreeItem item) = 0;
    virtual uintptr_t GetItemData(TreeItem item) = 0;
    virtual TreeItem GetChildItem(TreeItem item) = 0;
    virtual TreeItem GetNextSiblingItem(TreeItem item) = 0;
    virtual bool ItemHasChildren(TreeItem item) = 0;
    virtual void Expand(TreeItem item) = 0;
};

}  // namespace kx7
