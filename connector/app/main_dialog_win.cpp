#include "connector/app/main_dialog_win.h"

#include "connector/app/resource.h"
#include "connector/app/startup.h"

namespace kx7 {

CKX7AutoConnectorDlg::CKX7AutoConnectorDlg(CWnd* parent)
    : CDialog(IDD_KX7AUTOCONNECTOR_DIALOG, parent) {
    if (CWinApp* app = AfxGetApp()) {
        m_hIcon = app->LoadIconResource(IDR_MAINFRAME);
    }
    LoadConnectorSettings(SystemRegistry(), SystemOsVersion(), &m_settings);
}

const MessageMap* CKX7AutoConnectorDlg::GetMessageMap() const {
    static const MessageMapEntry entries[] = {{0, 0, nullptr}};
    static const MessageMap map = {CDialog::GetMessageMap(), entries};
    return &map;
}

BOOL CKX7AutoConnectorDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowTextW(m_hWnd, kMainWindowTitle);
    return TRUE;
}

}  // namespace kx7
