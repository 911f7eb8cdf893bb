// The connector's main window. For now it loads the settings and shows the window from its
// template; the tray, the device tree and the connect worker attach here.
#pragma once

#include "connector/app/framework_win.h"
#include "connector/engine/settings.h"

namespace kx7 {

class CKX7AutoConnectorDlg : public CDialog {
  public:
    explicit CKX7AutoConnectorDlg(CWnd* parent = nullptr);

    BOOL OnInitDialog() override;

    const ConnectorSettings& settings() const { return m_settings; }

  protected:
    const MessageMap* GetMessageMap() const override;

  private:
    HICON m_hIcon = nullptr;
    ConnectorSettings m_settings;
};

}  // namespace kx7
