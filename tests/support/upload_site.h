#pragma once

#include "support/test_tree.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Helpers for the upload-run tests: generated sites, tree comparison, file lists.

// Writes `count` files spread over nested folders (up to three levels, a few dozen folders)
// below tree.root(), with contents of varied sizes (some empty, some larger than one
// socket buffer) and distinct modification times. Answers the relative paths.
std::vector<std::string> generateSite(const TestTree& tree, int count, unsigned seed = 1);

// Every difference between two folders as readable lines ("missing a/b.html", "extra x",
// "differs y"); empty when both hold the same files with the same bytes. Entries whose
// first path component is in `ignoreTopLevel` (archive folders, reports) are not compared.
std::vector<std::string> compareTrees(
    const std::string& expected, const std::string& actual, const std::vector<std::string>& ignoreTopLevel = {});

// The regular files below `root`, relative, sorted.
std::vector<std::string> listFiles(const std::string& root);

// A project's file list ("path=time" lines) as a map; empty when the file is missing.
std::map<std::string, int64_t> readFileListFile(const std::string& path);

[[nodiscard]] std::string readText(const std::string& path);
