// Stand-in game client "Launcher.exe": reads kvnlogin.dat from its working
// folder, records that it started, and shows the login in its window.
#include <fstream>
#include <iterator>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <gtk/gtk.h>
#include <unistd.h>
#endif

namespace {

std::string readLogin() {
    std::ifstream in("kvnlogin.dat", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string workingFolder() {
#ifdef _WIN32
    wchar_t buf[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, buf);
    char out[MAX_PATH * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, buf, -1, out, sizeof out, nullptr, nullptr);
    return out;
#else
    char buf[4096] = {};
    return getcwd(buf, sizeof buf) ? buf : "";
#endif
}

void recordStart(const std::string& login) {
    std::ofstream out("client-started.txt.tmp", std::ios::binary | std::ios::trunc);
    out << "login=" << login << "\n" << "cwd=" << workingFolder() << "\n";
    out.close();
    std::rename("client-started.txt.tmp", "client-started.txt");
}

}  // namespace

#ifdef _WIN32
static std::wstring g_title;

static LRESULT CALLBACK WndProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (m == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        TextOutW(dc, 20, 20, g_title.c_str(), (int)g_title.size());
        EndPaint(w, &ps);
        return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
}

int WINAPI wWinMain(HINSTANCE inst, HINSTANCE, PWSTR, int show) {
    std::string login = readLogin();
    recordStart(login);
    // The login arrives in the ANSI code page.
    int n = MultiByteToWideChar(CP_ACP, 0, login.data(), (int)login.size(), nullptr, 0);
    std::wstring wlogin(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, login.data(), (int)login.size(), wlogin.data(), n);
    g_title = L"\u5DF2\u767B\u5F55\uFF1A" + wlogin;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = inst;
    wc.lpszClassName = L"KorvaneClientStandIn";
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    RegisterClassW(&wc);
    HWND w = CreateWindowW(wc.lpszClassName, g_title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, 420, 140, nullptr, nullptr, inst, nullptr);
    ShowWindow(w, show);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
#else
int main(int argc, char** argv) {
    std::string login = readLogin();
    recordStart(login);
    if (!gtk_init_check(&argc, &argv)) return 0;  // no display: the record is enough
    std::string title = "已登录：" + login;
    GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(win), title.c_str());
    gtk_window_set_default_size(GTK_WINDOW(win), 420, 140);
    gtk_container_add(GTK_CONTAINER(win), gtk_label_new(title.c_str()));
    g_signal_connect(win, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(win);
    gtk_main();
    return 0;
}
#endif
