#include "uninstall/uninstall_dlg.h"

#include "res/resource.h"

namespace kvn {

// The window with its log box and button; the uninstall run itself comes
// with the uninstaller.
int CUninstallDlg::DoModal(Dialog* owner) {
    return m_platform.ui.runModal(IDD_UNINSTALL_DIALOG, *this, owner);
}

bool CUninstallDlg::onInitDialog(Dialog& dialog) {
    m_pDialog = &dialog;
    dialog.setIcon(IDR_MAINFRAME);
    return true;
}

void CUninstallDlg::onCommand(int controlId) {
    if (controlId == IDCANCEL) onCancel();
}

void CUninstallDlg::onCancel() {
    if (m_pDialog && m_pDialog->exists()) m_pDialog->endDialog(IDCANCEL);
}

void CUninstallDlg::onDestroy() { m_pDialog = nullptr; }

}  // namespace kvn
