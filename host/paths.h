// Where the host finds what it ships with: the voice pack and the examples,
// and the links that let the control read the pack from its working folder.
#pragma once

#include <string>
#include <vector>

namespace paths {

bool Exists(const std::string& path);
// `path` made absolute against `from` (unchanged when already absolute).
std::string Absolute(const std::string& path, const std::string& from);
std::string Cwd();
// The folder of the running program.
std::string ProgramDir();
// The voice pack: $MARLUNE_VOICE_DIR, the one beside the program
// (../share/voice), or the one the build made.
std::string VoicePackDir();
// Where VoicePackDir looks, in order ($MARLUNE_VOICE_DIR alone when set).
std::vector<std::string> VoicePackFolders();
// "no voice pack (hanzi.dat) in A, B or C (set MARLUNE_VOICE_DIR)".
std::string NoVoicePack(const std::vector<std::string>& searched);
// The example scripts: $MARLUNE_EXAMPLES_DIR, ../share/examples beside the
// program, or the source tree's examples/.
std::string ExamplesDir();
// mkdir -p; false when the folder cannot be made.
bool MakeDirs(const std::string& dir);
// Makes `dir`/`name` as a new empty file, never one that is already there:
// when the name is taken (by anyone, at any time before), "stem-2.ext",
// "stem-3.ext", ... Answers the path made ("" when none can be).
std::string CreateNew(const std::string& dir, const std::string& name);

// The control reads "hanzi.dat", "wav\..." and "wu2.wav" from its working
// folder. Links the pack's files into `dir` where `dir` has none; Remove()
// takes away only the links it made.
class VoicePackLinks {
public:
    // False when there is no pack to link (the message says where it looked).
    bool Make(const std::string& dir, std::string* message);
    void Remove();
    ~VoicePackLinks() { Remove(); }

private:
    std::string dir_;
    std::string made_[3];
};

}  // namespace paths
