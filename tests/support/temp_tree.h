#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

// A fresh folder for one test, removed with everything in it when the test ends.
class TempTree {
public:
    TempTree();
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    ~TempTree();

    // The full path of a relative path inside the tree ("" gives the tree's root).
    std::string path(std::string_view relative = {}) const;
    // Writes a file, creating its parent folders; returns its full path.
    std::string write(std::string_view relative, std::string_view content) const;
    // Creates a folder and its parents; returns its full path.
    std::string make_dir(std::string_view relative) const;

private:
    std::string root_;
};

// Every entry under root by relative path with '/' between components: a file maps to its
// content, a folder to "<dir>", a symbolic link to "-> target".
using Tree = std::map<std::string, std::string>;
Tree read_tree(const std::string& root);

// Every entry under root, except those under skip, with what a run must not change: a hash of
// a file's content, its mode and its modification time; a link's target. Special files are
// never opened.
Tree snapshot_tree(const std::string& root, const std::string& skip = {});

std::string read_file(const std::string& path);
// Sets a file's access and modification times to seconds since 1970.
void set_mtime(const std::string& path, long long seconds);

// Runs body without root's powers, which would hide permission faults: as root, in a child
// process that hands folder to the user nobody and becomes that user; otherwise right here.
// Failures inside body fail the calling test.
void run_as_plain_user(const std::string& folder, const std::function<void()>& body);

// The name of the user running the tests.
std::string current_user_name();

// UTF-16 little-endian bytes of a text, with the byte order mark FF FE in front when bom.
std::string utf16le(std::u16string_view text, bool bom = true);
