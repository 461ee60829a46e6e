#include "host/paths.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paths {

namespace {
const char* const kPackFiles[3] = {"hanzi.dat", "wav", "wu2.wav"};
}

bool Exists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string Absolute(const std::string& path, const std::string& from) {
    return !path.empty() && path[0] == '/' ? path : from + "/" + path;
}

std::string Cwd() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? buf : ".";
}

std::string ProgramDir() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string exe(buf, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

std::vector<std::string> VoicePackFolders() {
    if (const char* env = getenv("MARLUNE_VOICE_DIR"); env && *env) return {env};
    std::vector<std::string> folders{ProgramDir() + "/../share/voice"};
#ifdef MARLUNE_VOICE_DIR
    folders.push_back(MARLUNE_VOICE_DIR);
#endif
    return folders;
}

std::string VoicePackDir() {
    const std::vector<std::string> folders = VoicePackFolders();
    for (auto& f : folders)
        if (Exists(f + "/hanzi.dat")) return f;
    return folders.back();
}

std::string NoVoicePack(const std::vector<std::string>& searched) {
    std::string list;
    for (size_t i = 0; i < searched.size(); ++i)
        list += (i == 0 ? "" : i + 1 == searched.size() ? " or " : ", ") + searched[i];
    return "no voice pack (hanzi.dat) in " + list + " (set MARLUNE_VOICE_DIR)";
}

std::string ExamplesDir() {
    if (const char* env = getenv("MARLUNE_EXAMPLES_DIR"); env && *env) return env;
    const std::string beside = ProgramDir() + "/../share/examples";
    if (Exists(beside + "/balance.lua")) return beside;
#ifdef MARLUNE_EXAMPLES_DIR
    return MARLUNE_EXAMPLES_DIR;
#else
    return beside;
#endif
}

bool MakeDirs(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); ++i) {
        if (i < dir.size() && dir[i] != '/') continue;
        std::string part = dir.substr(0, i);
        if (!Exists(part) && mkdir(part.c_str(), 0777) != 0) return false;
    }
    return Exists(dir);
}

std::string CreateNew(const std::string& dir, const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == 0 || dot == std::string::npos) dot = name.size();
    for (int n = 1; n <= 9999; ++n) {
        const std::string path =
            dir + "/" + (n == 1 ? name : name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot));
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            close(fd);
            return path;
        }
        if (errno != EEXIST) break;
    }
    return "";
}

bool VoicePackLinks::Make(const std::string& dir, std::string* message) {
    Remove();
    dir_ = dir;
    if (Exists(dir + "/hanzi.dat")) return true;  // the folder holds its own pack
    const std::string pack = VoicePackDir();
    if (!Exists(pack + "/hanzi.dat")) {
        std::vector<std::string> searched{dir};
        for (auto& f : VoicePackFolders()) searched.push_back(f);
        if (message) *message = NoVoicePack(searched);
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        const std::string link = dir + "/" + kPackFiles[i];
        if (Exists(link) || !Exists(pack + "/" + kPackFiles[i])) continue;
        if (symlink((pack + "/" + kPackFiles[i]).c_str(), link.c_str()) == 0) made_[i] = link;
    }
    return true;
}

void VoicePackLinks::Remove() {
    for (auto& link : made_) {
        if (!link.empty()) unlink(link.c_str());
        link.clear();
    }
}

}  // namespace paths
