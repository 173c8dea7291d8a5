// Linux stand-in for "regsvr32 /s [/u] <plug-in path>": records or removes
// the plug-in's "Path" value in the per-user registry file, the path given
// in the Windows form the launcher sees (drive letter, backslashes).
// KORVANE_REGSVR32_FAIL makes it fail (see main).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace {

const std::string kSection = "HKCU\\SOFTWARE\\MozillaPlugins\\korvane.net/KVNWebPlayer";

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string collapse(const std::string& p) {
    std::string out;
    for (char c : p)
        if (!(c == '/' && !out.empty() && out.back() == '/')) out += c;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

// Drive letter table: KORVANE_DRIVES "C=/srv/c;D=/srv/d", else C under XDG data.
std::vector<std::pair<char, std::string>> drives() {
    std::vector<std::pair<char, std::string>> out;
    std::string table = env("KORVANE_DRIVES");
    std::stringstream ss(table);
    std::string item;
    while (std::getline(ss, item, ';')) {
        if (item.size() > 2 && item[1] == '=' && std::isalpha((unsigned char)item[0]))
            out.emplace_back((char)std::toupper((unsigned char)item[0]), collapse(item.substr(2)));
    }
    if (out.empty()) {
        std::string data = env("XDG_DATA_HOME");
        if (data.empty()) data = env("HOME") + "/.local/share";
        out.emplace_back('C', collapse(data + "/korvane/drives/C"));
    }
    return out;
}

bool toWindowsPath(const std::string& native, std::string& win) {
    std::string p = collapse(native);
    size_t best = 0;
    bool found = false;
    for (auto& [letter, root] : drives()) {
        if ((p == root || p.compare(0, root.size() + 1, root + "/") == 0) && root.size() >= best) {
            best = root.size();
            std::string rest = p.substr(root.size());
            std::replace(rest.begin(), rest.end(), '/', '\\');
            win = std::string(1, letter) + ":" + (rest.empty() ? "\\" : rest);
            found = true;
        }
    }
    return found;
}

std::string registryFile() {
    std::string cfg = env("XDG_CONFIG_HOME");
    if (cfg.empty()) cfg = env("HOME") + "/.config";
    return cfg + "/korvane/registry.ini";
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

struct Section {
    std::string name;
    std::vector<std::string> lines;  // raw "name=data" lines, kept as read
};

std::vector<Section> load(const std::string& path) {
    std::vector<Section> out;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    out.push_back({"", {}});
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']')
            out.push_back({line.substr(1, line.size() - 2), {}});
        else if (!line.empty())
            out.back().lines.push_back(line);
    }
    return out;
}

bool save(const std::string& path, const std::vector<Section>& secs) {
    std::string dir = path.substr(0, path.rfind('/'));
    std::string cmd;
    for (size_t i = 1; i <= dir.size(); ++i)
        if (i == dir.size() || dir[i] == '/') mkdir(dir.substr(0, i).c_str(), 0700);
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        for (auto& s : secs) {
            if (!s.name.empty() && s.lines.empty()) continue;
            if (!s.name.empty()) out << "[" << s.name << "]\n";
            for (auto& l : s.lines) out << l << "\n";
        }
        out.flush();
        if (!out) return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    // KORVANE_REGSVR32_FAIL=<code>: the run changes nothing and ends with
    // that exit code, as a plug-in that refuses to register makes it end.
    if (const std::string code = env("KORVANE_REGSVR32_FAIL"); !code.empty()) {
        std::cerr << "regsvr32: failing as asked\n";
        return std::atoi(code.c_str());
    }
    bool unregister = false;
    std::string target;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        std::string la = lower(a);
        if (la == "/s" || la == "-s") continue;
        if (la == "/u" || la == "-u") unregister = true;
        else if (target.empty()) target = a;
        else target.clear(), i = argc;  // a second path: refuse
    }
    if (target.empty()) {
        std::cerr << "usage: regsvr32 /s [/u] <plug-in path>\n";
        return 3;
    }
    std::string file = registryFile();
    std::vector<Section> secs = load(file);
    Section* sec = nullptr;
    for (auto& s : secs)
        if (!s.name.empty() && lower(s.name) == lower(kSection)) sec = &s;
    auto isPath = [](const std::string& l) {
        size_t eq = l.find('=');
        return eq != std::string::npos && lower(l.substr(0, eq)) == "path";
    };
    if (unregister) {
        if (sec) sec->lines.erase(std::remove_if(sec->lines.begin(), sec->lines.end(), isPath), sec->lines.end());
    } else {
        struct stat st;
        if (stat(target.c_str(), &st) != 0) {
            std::cerr << "regsvr32: cannot find " << target << "\n";
            return 4;
        }
        std::string win;
        if (!toWindowsPath(target, win)) {
            std::cerr << "regsvr32: " << target << " is on no drive\n";
            return 4;
        }
        if (!sec) {
            secs.push_back({kSection, {}});
            sec = &secs.back();
        }
        sec->lines.erase(std::remove_if(sec->lines.begin(), sec->lines.end(), isPath), sec->lines.end());
        sec->lines.push_back("Path=" + escape(win));
    }
    if (!save(file, secs)) {
        std::cerr << "regsvr32: cannot write " << file << "\n";
        return 5;
    }
    return 0;
}
