#include "toolkit/trace_win.h"

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "toolkit/handles_win.h"

using namespace kelto;

namespace {

std::vector<std::string> gLines;

void Capture(std::string_view line) {
    gLines.emplace_back(line);
}

// The one line traced by trace(), without its time stamp.
template <typename Fn>
std::string TracedLine(Fn trace) {
    gLines.clear();
    TraceSink previous = SetTraceSinkForTesting(Capture);
    trace();
    SetTraceSinkForTesting(previous);
    EXPECT_EQ(gLines.size(), 1u);
    std::string line = gLines.empty() ? "" : gLines.front();
    size_t text = line.find("ms: ");
    EXPECT_EQ(line.rfind("Kelto2 +", 0), 0u) << line;
    return text == std::string::npos ? line : line.substr(text + 4);
}

TEST(TraceWin, FailedStepsCarryTheErrorAndItsText) {
    const std::string denied = TracedLine([] {
        SetLastError(ERROR_ACCESS_DENIED);
        LogLastError("create folder C:\\x");
    });
    const std::string unresolved =
        TracedLine([] { TraceError("open http://x/", ERROR_INTERNET_NAME_NOT_RESOLVED); });
    const std::string bad =
        TracedLine([] { TraceStatus("open package", LONG(0xC0000022)); });
    const std::string unknown = TracedLine([] { TraceError("rename", 0x20001234); });
    struct Case {
        const std::string& line;
        std::string head;
    };
    for (const Case& c : {Case{denied, "create folder C:\\x failed: error 5: "},
                          Case{unresolved, "open http://x/ failed: error 12007: "},
                          Case{bad, "open package failed: status 0xC0000022: "}}) {
        EXPECT_EQ(c.line.substr(0, c.head.size()), c.head);
        EXPECT_GT(c.line.size(), c.head.size()) << c.line << ": no system text";
        EXPECT_EQ(c.line.find_first_of("\r\n"), std::string::npos) << c.line;
    }
    EXPECT_EQ(unknown, "rename failed: error 536875572");
}

// A failure traced on its way up still reaches the caller's GetLastError,
// through the debugger's output and the text lookups alike.
TEST(TraceWin, TracingKeepsTheLastError) {
    const std::function<void()> traces[] = {
        [] { LogLastError("write file"); },
        [] { TraceError("rename", 0x20001234); },
        [] { TraceStatus("open package", LONG(0xC0000022)); },
        [] { TraceStep("step"); },
        [] { DebugTrace("fact"); },
        [] { (void)ErrorText(ERROR_INTERNET_TIMEOUT); },
    };
    for (size_t i = 0; i < std::size(traces); ++i) {
        SetLastError(ERROR_DISK_FULL);
        traces[i]();
        EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL)) << "trace " << i;
    }
}

TEST(HandlesWin, PutClosesWhatIsHeld) {
    ProcessHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE held = event.Get();
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(held, &flags));
    HANDLE* slot = event.Put();
    EXPECT_FALSE(GetHandleInformation(held, &flags));
    EXPECT_EQ(*slot, nullptr);
}

}  // namespace
