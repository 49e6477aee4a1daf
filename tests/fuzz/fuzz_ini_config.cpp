// Configuration files from the server: INI parsing, loading into the record
// and the launch decision taken on what was loaded.
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "config/ini.h"
#include "config/launcher_config.h"
#include "fuzz_check.h"
#include "launcher/launch_decision.h"
#include "toolkit/text.h"

using namespace kelto;

namespace {

int g_probeCalls = 0;
bool WindowProbe() {
    ++g_probeCalls;
    return true;
}

bool HasLineBreakOrNul(const std::string& s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos;
}

void CheckDocument(const IniDocument& doc) {
    for (const IniSection& section : doc.sections) {
        FUZZ_CHECK(!HasLineBreakOrNul(section.name));
        for (const IniLine& line : section.lines) {
            FUZZ_CHECK(!HasLineBreakOrNul(line.key) && !HasLineBreakOrNul(line.value));
            FUZZ_CHECK(line.key.find('=') == std::string::npos);
            FUZZ_CHECK(GbkSize(line.value) <= kIniValueLimit);
        }
    }
    size_t used = 1;
    for (const std::string& entry : IniSectionEntries(doc, kForceUpdateSection)) {
        used += GbkSize(entry) + 1;
    }
    FUZZ_CHECK(used <= kIniSectionLimit);
}

void CheckDecision(const LauncherConfig& config, std::string_view installed, bool testMode) {
    LaunchFacts facts = GatherLaunchFacts(config, installed, testMode);
    FUZZ_CHECK(!facts.uninstallFirst || facts.forcedUpdate);
    g_probeCalls = 0;
    LaunchOutcome outcome = DecideLaunch(facts, WindowProbe);
    bool probeMatters = !testMode && !facts.upToDate && !facts.forcedUpdate;
    FUZZ_CHECK(g_probeCalls == (probeMatters ? 1 : 0));
    FUZZ_CHECK(!testMode || outcome != LaunchOutcome::HandOver);
    FUZZ_CHECK((outcome == LaunchOutcome::UninstallThenUpdate) ==
               (facts.uninstallFirst && (testMode || !facts.upToDate)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    IniDocument doc = ParseIni(text);
    CheckDocument(doc);

    LauncherConfig config;
    LoadFromText(config, text);

    // Names stay unique, and each is found again where it was merged.
    std::set<std::string> names;
    for (size_t i = 0; i < config.forceupdate.size(); ++i) {
        std::string_view entry = config.forceupdate[i];
        size_t eq = entry.find('=');
        FUZZ_CHECK(eq != std::string_view::npos);
        std::string_view name = entry.substr(0, eq);
        FUZZ_CHECK(names.insert(AsciiLowered(name)).second);
        // Each look-up scans the list: check a sample, or a long list costs
        // quadratic time.
        bool sampled = i < 64 || i + 1 == config.forceupdate.size();
        if (sampled && !name.empty()) {
            std::optional<ForceEntry> found = FindEntry(config, name);
            FUZZ_CHECK(found && found->index == i && found->value == entry.substr(eq + 1));
            std::optional<int> level = ForceLevel(config, name);
            FUZZ_CHECK(level && *level == ParseLeadingInt(found->value));
        }
    }

    std::optional<ForceEntry> url = FindEntry(config, "url");
    FUZZ_CHECK(SetupPackageUrl(config) == (url ? url->value : DefaultSetupUrl(kServerRoot)));

    for (std::string_view installed : {"0", "", "1.6.5.2282", "1.6.5.2288"}) {
        CheckDecision(config, installed, false);
        CheckDecision(config, installed, true);
    }

    // Loading the same file twice changes nothing more.
    LauncherConfig twice = config;
    LoadFromText(twice, text);
    FUZZ_CHECK(twice.forceupdate == config.forceupdate);
    FUZZ_CHECK(twice.caption == config.caption && twice.progress == config.progress &&
               twice.closeX == config.closeX && twice.webLink2Color == config.webLink2Color);
    return 0;
}
