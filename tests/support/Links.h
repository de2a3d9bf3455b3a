#pragma once
// Symbolic links for the tests that show the file work never follows one: a link inside a
// tree the product works on, pointing at a folder or file outside it that must survive.
#include <string>

namespace testsupport {

// Creates link as a symbolic link to the folder target and checks that the system then
// reports link as a folder reparse point. Throws std::runtime_error with the reason when it
// cannot. (Wine 8 shows a link to a file as a plain file, so only folder links are made.)
void MakeFolderLink(const std::wstring& link, const std::wstring& target);

// A folder link that the test owns: made at construction, removed (the link only, from the
// Unix side) at destruction when it is still there.
struct FolderLink {
    FolderLink(const std::wstring& link, const std::wstring& target);
    ~FolderLink();
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;

    bool Present() const;  // the link itself is still there

    std::wstring path;
};

// False under Wine 8: it opens a link's target even when asked for the link itself, so the
// product refuses to remove links there (and leaves them); true on Windows.
bool SystemRemovesLinks();

// A folder outside every tree under test holding one canary file; the folder and its
// canary are what a followed link would destroy.
struct CanaryFolder {
    explicit CanaryFolder(const std::wstring& prefix);
    ~CanaryFolder();
    CanaryFolder(const CanaryFolder&) = delete;
    CanaryFolder& operator=(const CanaryFolder&) = delete;

    bool Intact() const;  // the folder and its canary with its content, nothing else gone

    std::wstring folder;
    std::wstring canary;
};

}  // namespace testsupport
