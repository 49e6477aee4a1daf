// kelto2-check: checks a distribution server's tree as the launcher would
// read it. See --help.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "checker/check.h"
#include "transfer/package_check.h"

namespace kelto {

namespace {

// Bad usage is told apart from a tree with errors (2): scripts that gate a
// publication on the status must not take a typo for a broken server.
constexpr int kUsageStatus = 3;

constexpr std::string_view kUsage =
    "usage: kelto2-check ROOT [--host NAME] [--key FILE] [--min-version VERSION]\n"
    "                         [--installed VERSION [--running] [--testui]]\n"
    "\n"
    "Checks the distribution server's tree at ROOT (kelto2/kelto.dat,\n"
    "kelto2/games/9.dat, the skin pictures and the Setup package they name) the\n"
    "way the launcher reads it, and prints one line per finding:\n"
    "  file:line: error|warning: text\n"
    "\n"
    "  --host NAME          URLs on this host are files under ROOT\n"
    "                       (default: the launcher's server host)\n"
    "  --key FILE           PEM public key of the launcher's build: the package's\n"
    "                       [signature] and each configuration file's signature\n"
    "                       line must verify with it\n"
    "  --min-version VERSION  the build's minimum: latest must not be below it\n"
    "  --installed VERSION  also print what a launcher would decide with this\n"
    "                       Downloader installed (\"0\": none) and the merged\n"
    "                       configuration it would see\n"
    "  --running            a Downloader is running (with --installed)\n"
    "  --testui             the launcher runs with /testui (with --installed)\n"
    "\n"
    "Exit status: 0 clean, 1 warnings only, 2 errors, 3 bad usage.\n";

struct Arguments {
    std::string root;
    CheckOptions options;
    std::optional<std::string> installed;
    bool running = false;
    bool testMode = false;
    bool help = false;
};

int UsageError(const std::string& message) {
    std::cerr << "kelto2-check: " << message << "\n" << kUsage;
    return kUsageStatus;
}

// Fills args; returns an error message, empty when the command line is good.
std::string ParseArguments(int argc, char** argv, Arguments& args) {
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            args.help = true;
        } else if (arg == "--host") {
            if (!value(args.options.serverHost) || args.options.serverHost.empty()) {
                return "--host needs a host name";
            }
        } else if (arg == "--key") {
            if (!value(args.options.keyPath) || args.options.keyPath.empty()) {
                return "--key needs a file";
            }
        } else if (arg == "--min-version") {
            if (!value(args.options.minVersion) || !IsFourNumberVersion(args.options.minVersion)) {
                return "--min-version needs a version of four numbers";
            }
        } else if (arg == "--installed") {
            std::string version;
            if (!value(version)) {
                return "--installed needs a version (\"0\": none installed)";
            }
            args.installed = version;
        } else if (arg == "--running") {
            args.running = true;
        } else if (arg == "--testui") {
            args.testMode = true;
        } else if (arg.starts_with("-") && arg.size() > 1) {
            return "unknown option " + std::string(arg);
        } else if (args.root.empty()) {
            args.root = arg;
        } else {
            return "more than one ROOT";
        }
    }
    if (args.help) {
        return {};
    }
    if (args.root.empty()) {
        return "ROOT is missing";
    }
    if ((args.running || args.testMode) && !args.installed) {
        return "--running and --testui go with --installed";
    }
    return {};
}

int Run(int argc, char** argv) {
    Arguments args;
    if (std::string error = ParseArguments(argc, argv, args); !error.empty()) {
        return UsageError(error);
    }
    if (args.help) {
        std::cout << kUsage;
        return 0;
    }
    std::vector<Diagnostic> keyProblems;
    if (!args.options.keyPath.empty()) {
        if (std::optional<std::string> pem = ReadWholeFile(args.options.keyPath)) {
            args.options.keyPem = std::move(*pem);
        } else {
            keyProblems.push_back(
                {args.options.keyPath, 0, Severity::kError, "cannot read the key"});
            args.options.keyPath.clear();
        }
    }
    CheckResult result = CheckTree(args.root, args.options);
    result.diagnostics.insert(result.diagnostics.begin(), keyProblems.begin(), keyProblems.end());
    for (const Diagnostic& d : result.diagnostics) {
        std::cout << FormatDiagnostic(d) << "\n";
    }
    if (args.installed) {
        std::cout << "\n"
                  << DescribeLaunch(result.config, *args.installed, args.running, args.testMode,
                                    args.options)
                  << "\nmerged configuration:\n"
                  << DescribeConfig(result.config);
    }
    return ExitStatus(result.diagnostics);
}

}  // namespace

}  // namespace kelto

int main(int argc, char** argv) {
    return kelto::Run(argc, argv);
}
