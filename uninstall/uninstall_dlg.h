// The uninstall window (dialog template 136).
#pragma once

#include "platform/platform.h"

namespace kvn {

class CUninstallDlg : public DialogHandler {
public:
    explicit CUninstallDlg(Platform& platform) : m_platform(platform) {}
    // Runs the dialog modally; returns its result.
    int DoModal(Dialog* owner = nullptr);

    bool onInitDialog(Dialog& dialog) override;
    void onCommand(int controlId) override;
    void onCancel() override;
    void onDestroy() override;

private:
    Platform& m_platform;
    Dialog* m_pDialog = nullptr;
};

}  // namespace kvn
