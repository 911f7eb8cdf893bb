// The connector's application object.
#pragma once

#include <cstdint>
#include <string>

#include "connector/app/framework_win.h"

namespace kx7 {

class CKX7AutoConnectorApp : public CWinApp {
  public:
    BOOL InitInstance() override;

    std::wstring m_strArguments;  // the arguments, upper-cased
    int32_t m_bHideMode = 0;      // set before the main dialog exists, which is given it
};

extern CKX7AutoConnectorApp theApp;

}  // namespace kx7
