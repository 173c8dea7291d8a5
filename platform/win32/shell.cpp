// Special folders, the default browser and shell links (IShellLinkW saved
// through IPersistFile).
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "platform/win32/internal.h"
#include "platform/win32/wide.h"

namespace kvn::win32 {
namespace {

// COM for the calling thread while a link object lives; a thread that has
// it already keeps its own apartment.
class ComScope {
public:
    ComScope() {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        balanced_ = SUCCEEDED(hr);
    }
    ~ComScope() {
        if (balanced_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool balanced_ = false;
};

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_) p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** out() { return &p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* get() const { return p_; }

private:
    T* p_ = nullptr;
};

class Win32ShellLink : public ShellLink {
public:
    bool create() {
        return SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IShellLinkW,
                                          reinterpret_cast<void**>(link_.out())));
    }
    void setPath(const WString& target) override { link_->SetPath(W(target)); }
    void setWorkingDirectory(const WString& folder) override {
        link_->SetWorkingDirectory(W(folder));
    }
    void setArguments(const WString& arguments) override { link_->SetArguments(W(arguments)); }
    void setIconLocation(const WString& path, int index) override {
        link_->SetIconLocation(W(path), index);
    }
    bool save(const WString& linkPath) override {
        ComPtr<IPersistFile> file;
        if (FAILED(link_->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.out()))))
            return false;
        return SUCCEEDED(file->Save(W(linkPath), TRUE));
    }

private:
    ComScope com_;  // outlives link_, which is declared after it
    ComPtr<IShellLinkW> link_;
};

class Win32Shell : public Shell {
public:
    std::optional<WString> specialFolderPath(SpecialFolder folder) override {
        wchar_t path[MAX_PATH] = {};
        int csidl = folder == SpecialFolder::Desktop ? CSIDL_DESKTOP : CSIDL_PROGRAMS;
        if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)))
            return std::nullopt;
        return U(path);
    }
    bool openInDefaultBrowser(const WString& url) override {
        auto rc = reinterpret_cast<INT_PTR>(
            ShellExecuteW(nullptr, L"open", W(url), nullptr, nullptr, SW_SHOWNORMAL));
        return rc > 32;
    }
    std::unique_ptr<ShellLink> createShellLink() override {
        auto link = std::make_unique<Win32ShellLink>();
        if (!link->create()) return nullptr;
        return link;
    }
    std::optional<ShellLinkInfo> readShellLink(const WString& linkPath) override {
        ComScope com;
        ComPtr<IShellLinkW> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IShellLinkW, reinterpret_cast<void**>(link.out()))))
            return std::nullopt;
        ComPtr<IPersistFile> file;
        if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.out()))) ||
            FAILED(file->Load(W(linkPath), STGM_READ)))
            return std::nullopt;
        ShellLinkInfo info;
        wchar_t buffer[INFOTIPSIZE] = {};
        // SLGP_RAWPATH: the target as stored, not resolved against this machine.
        if (SUCCEEDED(link->GetPath(buffer, INFOTIPSIZE, nullptr, SLGP_RAWPATH)))
            info.target = U(buffer);
        buffer[0] = 0;
        if (SUCCEEDED(link->GetWorkingDirectory(buffer, INFOTIPSIZE)))
            info.workingDirectory = U(buffer);
        buffer[0] = 0;
        if (SUCCEEDED(link->GetArguments(buffer, INFOTIPSIZE))) info.arguments = U(buffer);
        buffer[0] = 0;
        int index = 0;
        if (SUCCEEDED(link->GetIconLocation(buffer, INFOTIPSIZE, &index))) {
            info.iconPath = U(buffer);
            info.iconIndex = index;
        }
        return info;
    }
};

}  // namespace

std::unique_ptr<Shell> makeShell() { return std::make_unique<Win32Shell>(); }

}  // namespace kvn::win32
