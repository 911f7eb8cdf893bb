// The device tree's view of the window's tree control, through the control's messages.
#pragma once

#include <windows.h>

#include "connector/devtree/tree_control.h"

namespace kx7 {

class Win32TreeControl final : public TreeControl {
  public:
    explicit Win32TreeControl(HWND tree) : tree_(tree) {}

    TreeItem InsertItem(TreeItem parent, const std::wstring& text, int image,
                        uintptr_t data) override;
    bool DeleteItem(TreeItem item) override;
    uintptr_t GetItemData(TreeItem item) override;
    TreeItem GetChildItem(TreeItem item) override;
    TreeItem GetNextSiblingItem(TreeItem item) override;
    bool ItemHasChildren(TreeItem item) override;
    void Expand(TreeItem item) override;

  private:
    HWND tree_;
};

// The text of an item, for tests that read the tree back.
std::wstring TreeItemText(HWND tree, TreeItem item);

}  // namespace kx7
