// Runs the launcher window modally on the fake platform; a test's
// `inspect` sees the dialog and the window object while it is open.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "launcher/launcher_dlg.h"
#include "res/resource.h"
#include "tests/fake/fake_platform.h"

namespace kvn {

class LauncherWindowTest : public ::testing::Test {
protected:
    fake::FakePlatform p;
    void SetUp() override {
        fake::FakeSystem::heldMutexes().clear();
        p.system.realSleep = true;  // the install worker polls on a real thread
    }
    void RunWindow(const std::function<void(fake::FakeDialog&, CLauncherDlg&)>& inspect) {
        CLauncherDlg dlg(p, Config{u"http://site.test", u"http://dl.test", {}});
        p.ui.whileOpen[IDD_LAUNCHER_DIALOG] = [&](fake::FakeDialog& d, DialogHandler&) {
            inspect(d, dlg);
        };
        dlg.DoModal();
    }
};

}  // namespace kvn
