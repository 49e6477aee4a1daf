// kelto2-publish: a release written into the server's tree in one step.
// The package, the configuration file's release keys and its signature are
// made in memory, checked as kelto2-check checks a tree, and only then
// written, each file by an atomic rename, in an order that never shows a
// launcher a configuration whose package is missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "checker/check.h"

namespace kelto {

struct PublishRequest {
    std::string root;  // the server's tree
    // The Setup package's bytes and its version (four numbers); without a
    // package the configuration files are only signed again, with the given
    // expiry and rollout.
    std::optional<std::string> package;
    std::string version;
    std::string keyPath;  // the release key's private half, for messages
    std::string keyPem;
    std::optional<int> rollout;  // written when given
    std::string expires;         // UTC time text, always written
    bool gameFile = false;       // the game's file instead of the general one
    std::string serverHost;      // empty: the launcher's
};

// A file of the tree as it will be written.
struct StagedFile {
    std::string path;  // relative, '/'-separated
    std::string bytes;
};

struct PublishPlan {
    std::vector<StagedFile> files;  // in the order they are replaced
    std::string publicKeyPem;       // the request key's public half
    std::string error;              // why nothing can be staged; empty when it can
};

// The files a release replaces: the package under its version's name, the
// configuration file with its new values and signature, the other
// configuration file (when there is one) signed again with the same expiry,
// then the package again under the default Setup URL's name.
PublishPlan StagePublication(const PublishRequest& request);

// kelto2-check's checks over the tree with the staged files in place, with
// the public half of the request's key.
CheckResult CheckStagedTree(const PublishRequest& request, const PublishPlan& plan);

// Replaces the staged files in order, each by writing a new file beside it,
// flushing it and renaming it over the old one. On any failure the files
// already replaced get their old contents back, nothing new is left
// behind, and the error is returned; empty on success.
std::string ReplaceTreeFiles(const std::string& root, const std::vector<StagedFile>& files);

}  // namespace kelto
