#pragma once
// The application object: prepares the process and runs the main dialog.
#include "framework/win_app.h"

class CUpDateApp : public CWinApp {
public:
    BOOL InitInstance() override;
};
