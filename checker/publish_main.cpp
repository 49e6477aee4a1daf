// kelto2-publish: publishes a Setup package and signs the configuration
// file in the server's tree. See --help.
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>

#include "checker/publish.h"
#include "config/config_signature.h"
#include "transfer/package_check.h"

namespace kelto {

namespace {

// As kelto2-check: 2 when the tree would be broken, 3 for a bad command line.
constexpr int kRefusedStatus = 2;
constexpr int kUsageStatus = 3;

constexpr int64_t kDefaultValidity = 30 * 86400;

constexpr std::string_view kUsage =
    "usage: kelto2-publish ROOT --key PRIVATE.pem [--package FILE --version VERSION]\n"
    "                      [--rollout SHARE] [--expires TIME] [--game] [--host NAME]\n"
    "\n"
    "Publishes a release into the distribution server's tree at ROOT: the Setup\n"
    "package as download/mvsetup-VERSION.exe, and in kelto2/kelto.dat the keys\n"
    "latest, url, [sha256], [signature], rollout and expires, then the file's\n"
    "signature line. Every other line of the file stays as it is; the other\n"
    "configuration file, when there is one, gets the same expires and is signed\n"
    "again. The result is\n"
    "checked as kelto2-check --key checks a tree; on any error nothing is written.\n"
    "Then the files are replaced, each at once: the package, the configuration,\n"
    "and last download/mvsetup.exe (the launcher's default Setup URL).\n"
    "Without --package only rollout and expires change and the files are signed\n"
    "again (before they expire, or to pause a release with --rollout 0).\n"
    "\n"
    "  --key FILE         the release key's private half (PEM, ECDSA P-256)\n"
    "  --package FILE     the Setup package\n"
    "  --version VERSION  its version, four numbers (1.6.5.2288)\n"
    "  --rollout SHARE    offer it to SHARE% of the machines (0..100) that have an\n"
    "                     older Downloader (default: 100 with --package, else\n"
    "                     the file's value)\n"
    "  --expires TIME     when a keyed launcher stops trusting the file,\n"
    "                     YYYY-MM-DDTHH:MM:SSZ (default: 30 days from now)\n"
    "  --game             the game's file kelto2/games/9.dat instead\n"
    "  --host NAME        the server's host name in URLs (default: the launcher's)\n"
    "\n"
    "Exit status: 0 published, 2 refused (nothing written), 3 bad usage.\n";

struct Arguments {
    std::string packagePath;
    PublishRequest request;
    bool help = false;
};

// The value after option i, moving i past it; empty when there is none.
std::string_view OptionValue(int argc, char** argv, int& i) {
    return i + 1 < argc ? std::string_view(argv[++i]) : std::string_view();
}

// Fills args; returns an error message, empty when the command line is good.
std::string ParseArguments(int argc, char** argv, Arguments& args) {
    PublishRequest& r = args.request;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            args.help = true;
        } else if (arg == "--key") {
            r.keyPath = OptionValue(argc, argv, i);
        } else if (arg == "--package") {
            args.packagePath = OptionValue(argc, argv, i);
        } else if (arg == "--version") {
            r.version = OptionValue(argc, argv, i);
        } else if (arg == "--rollout") {
            r.rollout = ParseRolloutShare(OptionValue(argc, argv, i));
            if (!r.rollout) {
                return "--rollout needs a whole number from 0 to 100";
            }
        } else if (arg == "--expires") {
            r.expires = OptionValue(argc, argv, i);
            if (!ParseUtcTime(r.expires)) {
                return "--expires needs a UTC time written YYYY-MM-DDTHH:MM:SSZ";
            }
        } else if (arg == "--game") {
            r.gameFile = true;
        } else if (arg == "--host") {
            r.serverHost = OptionValue(argc, argv, i);
            if (r.serverHost.empty()) {
                return "--host needs a host name";
            }
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return "unknown option " + std::string(arg);
        } else if (r.root.empty()) {
            r.root = arg;
        } else {
            return "more than one ROOT";
        }
    }
    if (args.help) {
        return {};
    }
    if (r.root.empty() || r.keyPath.empty()) {
        return r.root.empty() ? "ROOT is missing" : "--key is missing";
    }
    if (args.packagePath.empty() != r.version.empty()) {
        return "--package and --version go together";
    }
    if (!r.version.empty() && !IsFourNumberVersion(r.version)) {
        return "--version needs four numbers joined by dots";
    }
    return {};
}

// Reads the key and the package named on the command line.
std::string ReadInputs(Arguments& args) {
    std::optional<std::string> pem = ReadWholeFile(args.request.keyPath);
    if (!pem) {
        return "cannot read the key " + args.request.keyPath;
    }
    args.request.keyPem = std::move(*pem);
    if (!args.packagePath.empty()) {
        args.request.package = ReadWholeFile(args.packagePath);
        if (!args.request.package) {
            return "cannot read the package " + args.packagePath;
        }
    }
    if (args.request.package && !args.request.rollout) {
        args.request.rollout = kFullRollout;  // a new release goes to every machine
    }
    if (args.request.expires.empty()) {
        args.request.expires = FormatUtcTime(std::time(nullptr) + kDefaultValidity);
    }
    return {};
}

int Run(int argc, char** argv) {
    Arguments args;
    std::string error = ParseArguments(argc, argv, args);
    if (error.empty() && !args.help) {
        error = ReadInputs(args);
    }
    if (!error.empty()) {
        std::cerr << "kelto2-publish: " << error << "\n" << kUsage;
        return kUsageStatus;
    }
    if (args.help) {
        std::cout << kUsage;
        return 0;
    }
    PublishPlan plan = StagePublication(args.request);
    if (!plan.error.empty()) {
        std::cerr << "kelto2-publish: " << plan.error << "; nothing was written\n";
        return kRefusedStatus;
    }
    CheckResult check = CheckStagedTree(args.request, plan);
    for (const Diagnostic& d : check.diagnostics) {
        std::cout << FormatDiagnostic(d) << "\n";
    }
    if (ExitStatus(check.diagnostics) >= kRefusedStatus) {
        std::cerr << "kelto2-publish: the tree would have errors; nothing was written\n";
        return kRefusedStatus;
    }
    if (std::string failed = ReplaceTreeFiles(args.request.root, plan.files); !failed.empty()) {
        std::cerr << "kelto2-publish: " << failed << "; nothing was written\n";
        return kRefusedStatus;
    }
    for (const StagedFile& file : plan.files) {
        std::cout << "published " << file.path << "\n";
    }
    return 0;
}

}  // namespace

}  // namespace kelto

int main(int argc, char** argv) {
    return kelto::Run(argc, argv);
}
