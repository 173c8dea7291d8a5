// The GTK 3 / WebKitGTK windows of the launcher: dialogs built from the
// templates, the bitmap button, the text progress bar, the log box, the web
// view and message boxes.
#pragma once

#include "platform/platform.h"

namespace kvn::linuxp {

class GtkUi : public Ui {
public:
    GtkUi();
    void initialise() override;
    int runModal(int templateId, DialogHandler& handler, Dialog* owner) override;
    MsgResult messageBox(Dialog* owner, const WString& text, const WString& caption,
                         MsgButtons buttons, MsgIcon icon) override;
    void desktopMessageBoxGbk(const Bytes& text, const Bytes& caption) override;
};

}  // namespace kvn::linuxp
